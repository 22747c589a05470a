// Line reading shared by every platform; only the path conversion differs.
#include "platform/TextFile.h"

#include <cerrno>
#include <fstream>
#include <iterator>

#include "platform/Text.h"

namespace platform {

std::optional<std::vector<std::wstring>> ReadTextFileLines(std::wstring_view path,
                                                           std::size_t* firstUndecodableLine) {
    if (firstUndecodableLine != nullptr) {
        *firstUndecodableLine = 0;
    }
    std::string bytes;
    try {
        std::ifstream in(NativePath(path), std::ios::binary);
        if (!in) {
            return std::nullopt;
        }
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) {
            return std::nullopt;
        }
    } catch (const std::exception&) {
        return std::nullopt;
    }

    // Lines are split on the bytes before conversion: in the multibyte encodings a settings file
    // may use (UTF-8, Shift-JIS) neither LF nor CR occurs inside a character, and a malformed
    // sequence then cannot swallow a line end.
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        bool hasLineFeed = end != std::string::npos;
        if (!hasLineFeed) {
            end = bytes.size();
        }
        std::size_t length = end - start;
        if (hasLineFeed && length > 0 && bytes[end - 1] == '\r') {
            --length;
        }
        const std::string_view line = std::string_view(bytes).substr(start, length);
        if (firstUndecodableLine != nullptr && *firstUndecodableLine == 0 && !IsLocaleText(line)) {
            *firstUndecodableLine = lines.size() + 1;
        }
        lines.push_back(LocaleToWide(line));
        start = hasLineFeed ? end + 1 : end;
    }
    return lines;
}

namespace {

// The error behind a failed stream operation: the stream library keeps no error of its own, but
// the system calls under it leave theirs in errno.
std::error_code StreamError(int savedErrno) {
    if (savedErrno != 0) {
        return std::error_code(savedErrno, std::generic_category());
    }
    return std::make_error_code(std::io_errc::stream);
}

}  // namespace

std::error_code WriteTextFile(std::wstring_view path, std::wstring_view text,
                              std::optional<std::filesystem::perms> permissions) {
    std::string bytes = WideToLocale(text);
    try {
        std::filesystem::path file = NativePath(path);
        errno = 0;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        if (!out) {
            return StreamError(errno);
        }
        if (permissions) {
            std::error_code ec;
            std::filesystem::permissions(file, *permissions, ec);
            if (ec) {
                return ec;
            }
        }
        errno = 0;
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            return StreamError(errno);
        }
        errno = 0;
        out.close();
        if (!out) {
            return StreamError(errno);
        }
    } catch (const std::system_error& e) {
        return e.code();
    } catch (const std::exception&) {
        return std::make_error_code(std::errc::not_enough_memory);
    }
    return {};
}

}  // namespace platform
