// The text syntax of registry files (see platform/RegFile.h): case folding of key and value
// names, hexadecimal numbers and byte lists, quoted texts, UTF-16LE exports, the value lines as
// they are written, and the check of a key path. Used by CRegFile only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/RegFile.h"

namespace platform::regfile {

// The value types that the file writes in a form of their own.
inline constexpr std::uint32_t kTypeSz = 1;
inline constexpr std::uint32_t kTypeBinary = 3;
inline constexpr std::uint32_t kTypeDword = 4;

inline constexpr std::size_t kNone = static_cast<std::size_t>(-1);

inline constexpr std::array<std::wstring_view, 5> kRootNames = {
    L"HKEY_LOCAL_MACHINE", L"HKEY_CURRENT_USER", L"HKEY_CLASSES_ROOT", L"HKEY_USERS",
    L"HKEY_CURRENT_CONFIG"};

// A character as key and value names compare: case-insensitively.
wchar_t FoldChar(wchar_t c);

// Folding maps every character to exactly one character, so a folded text has the length of the
// original and prefixes line up.
std::wstring Fold(std::wstring_view text);

// Whether the folded key path is the folded ancestor or a key below it.
bool IsSameOrBelow(std::wstring_view folded, std::wstring_view foldedAncestor);

// Blanks and TABs removed at the start; at the end, blanks, TABs and a carriage return.
std::string_view TrimLeft(std::string_view s);
std::string_view TrimRight(std::string_view s);

// ASCII letters compared case-insensitively.
bool StartsWithNoCase(std::string_view s, std::string_view prefix);

// 1 to 8 hex digits.
std::optional<std::uint32_t> ParseHexNumber(std::string_view s);

// "41,00,42,00": bytes of one or two hex digits separated by commas; empty text is no bytes.
std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::string_view s);

// Reads a quoted text at the start of `s` ("\\" and "\"" are its escapes) and removes it from
// `s`. Returns null with `error` set when it is not well formed.
std::optional<std::string> TakeQuoted(std::string_view* s, std::wstring* error);

// UTF-16LE bytes (after the byte-order mark) as UTF-8. An unpaired surrogate becomes the byte
// 0xFF, which no UTF-8 text holds, so that its line is reported rather than read with a
// replacement character; an odd last byte is left out and `oddByte` set.
std::string Utf16LeToUtf8(std::string_view bytes, bool* oddByte);

// Whether the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

// The value's line as the file holds it (hex data continued over lines), ending in LF.
void AppendValue(std::string* out, const RegFileValue& value);

// Checks a block's key path: root name first, no empty parts, no control characters. Returns the
// path with its root name in the canonical (upper) case, or null with `error` set.
std::optional<std::wstring> CheckKeyPath(std::wstring_view path, std::wstring* error);

}  // namespace platform::regfile
