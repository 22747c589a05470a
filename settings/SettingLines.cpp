#include "settings/SettingLines.h"

#include "platform/Text.h"
#include "platform/TextFile.h"
#include "reporter/EventLogReporter.h"

namespace {

constexpr wchar_t kPatternTooLong[] = L"正規表現が最大長をオーバーしています。\r\n%s";

}  // namespace

std::vector<std::wstring> ReadSettingLines(const std::wstring& path, bool limitPatternLength) {
    std::vector<std::wstring> lines;
    auto read = platform::ReadTextFileLines(path);
    if (!read) {
        return lines;
    }
    for (std::wstring& line : *read) {
        if (line.empty()) {
            continue;
        }
        if (limitPatternLength && platform::Utf16Length(line) > kPatternLengthLimit) {
            ReportSettingsReadError(FormatLineMessage(kPatternTooLong, line));
            continue;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::wstring FormatLineMessage(std::wstring_view format, std::wstring_view text) {
    std::wstring message(format);
    std::size_t at = message.find(L"%s");
    if (at != std::wstring::npos) {
        message.replace(at, 2, text);
    }
    return message;
}

void ReportSettingsReadError(const std::wstring& innerText) {
    ReportToEventLog(MSG_SETTINGS_ERROR, kEventError,
                     {FormatResourceMessage(IDS_SETTINGS_READ_ERROR, {innerText})});
}
