// The line reader that every settings file of the manager shares, and the report of a bad line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Longest regular expression (in UTF-16 units) that the filter and level files accept.
inline constexpr std::size_t kPatternLengthLimit = 1024;

// The non-empty lines of a settings file, in file order, read through the process's global
// locale (CR LF and LF both end a line; the last line counts without a line end). With
// `limitPatternLength` a line longer than kPatternLengthLimit is reported and left out. A file
// that cannot be opened gives no lines and no report.
std::vector<std::wstring> ReadSettingLines(const std::wstring& path, bool limitPatternLength);

// `format` with its "%s" replaced by `text` (a message of the settings readers: "...\r\n%s").
std::wstring FormatLineMessage(std::wstring_view format, std::wstring_view text);

// Reports a settings file error to the event log: event 0xC00017DB, type error, with string 109
// ("設定ファイルの読込みでエラーが発生しました。\r\n%1!s!") filled with `innerText`.
void ReportSettingsReadError(const std::wstring& innerText);
