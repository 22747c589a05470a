// The system message formatter (FormatMessageW on a message text, with an argument array):
//   %1 .. %99      insert argument n; "%1!s!", "%2!d!" give its printf format (default !s!)
//   %0             ends the text here        %%  a percent sign
//   %n             CR LF                     %r  CR        %t  TAB
//   "% " "%." "%!" a blank, a dot, an exclamation mark
// Shared by the message table of the event log and by string resources, on every platform.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace platform {

using MessageArg = std::variant<std::wstring, std::int64_t>;

// The formatted text, or nullopt when an insert names a missing argument, a format does not fit
// its argument, or a format is malformed (where the system formatter fails).
std::optional<std::wstring> FormatMessageText(std::wstring_view pattern,
                                              std::span<const MessageArg> args);

}  // namespace platform
