// Text files read and named as the system does: file names are wide text, file contents are
// multibyte text in the encoding of the process's global locale (see InitProcessLocale).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace platform {

// The file-system path of a wide file name (POSIX: the name in the locale's encoding) and back.
std::filesystem::path NativePath(std::wstring_view path);
std::wstring WidePath(const std::filesystem::path& path);

// The lines of a text file as a text-mode stream gives them: a line ends at each LF, a CR directly
// before that LF is dropped (any other CR stays), and the last line counts even without an LF at
// its end (an LF at the very end adds no empty line). Each line is converted from the encoding of
// the current locale. Empty lines are kept. nullopt when the file cannot be opened or read.
// With `firstUndecodableLine`: set to the 1-based number of the first line that holds a byte
// sequence the locale's encoding does not define (such a line reads with U+FFFD in its place),
// or 0 when there is none.
std::optional<std::vector<std::wstring>> ReadTextFileLines(
    std::wstring_view path, std::size_t* firstUndecodableLine = nullptr);

// Creates `path` anew (an existing file is truncated) and writes `text` into it, converted to the
// encoding of the current locale; line ends are written as they stand in `text`. With
// `permissions` the file gets them before any byte is written (where the file system has them).
// The result is the error of the first step that failed (creating, writing or closing the file),
// or no error.
std::error_code WriteTextFile(std::wstring_view path, std::wstring_view text,
                              std::optional<std::filesystem::perms> permissions = std::nullopt);

}  // namespace platform
