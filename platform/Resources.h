// Texts compiled into the program: the string table and the message table. Windows: the module's
// resources (LoadStringW, FormatMessageW with FORMAT_MESSAGE_FROM_HMODULE). POSIX: the tables
// generated at build time from the same source (reporter/resources/Messages.json).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

inline constexpr std::uint16_t kLangEnglish = 1033;
inline constexpr std::uint16_t kLangJapanese = 1041;

// The text of a string resource, or empty text when there is none.
std::wstring LoadStringResource(std::uint32_t id);

// The message-table text of an event identifier in `language` (English when the language has no
// text), with its insertion markers (%1 ...) still in place.
std::optional<std::wstring> LoadMessageResource(std::uint32_t id, std::uint16_t language);

// The language the process shows messages in: Japanese when the locale's language is ja,
// English otherwise.
std::uint16_t ProcessMessageLanguage();

}  // namespace platform
