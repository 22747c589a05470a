// Splitting a command line into arguments by the rules of the Windows command line, which the
// option lines of the settings files follow too:
// - arguments are separated by runs of blanks (U+0020 only; a TAB is an ordinary character);
// - a double quote switches quoting on and off and is not part of the argument; inside quotes a
//   blank is ordinary; a pair of quotes with nothing between them still gives an argument;
// - 2n backslashes before a double quote give n backslashes and a quote that toggles quoting,
//   2n+1 give n backslashes and a literal quote; other backslashes are ordinary characters.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

std::vector<std::wstring> SplitCommandLine(std::wstring_view line);

// The argument as it must be written so that SplitCommandLine reads it back exactly: unchanged
// when it has no blank or double quote and is not empty, otherwise in double quotes with the
// backslashes before a quote (and before the closing quote) doubled and each quote escaped.
std::wstring QuoteCommandLineArgument(std::wstring_view argument);

}  // namespace platform
