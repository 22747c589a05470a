#include "settings/EventLevels.h"

#include "platform/Text.h"
#include "settings/SettingLines.h"

namespace {

constexpr wchar_t kLevelInvalid[] = L"イベントレベル指定の正規表現が不正です。\r\n%s";
constexpr wchar_t kLevelPatternTooLong[] =
    L"イベントレベル指定の正規表現が最大長をオーバーしています。\r\n%s";

constexpr wchar_t kTrimmed[] = L" \t\v\r\n";

}  // namespace

std::uint16_t LevelToEventType(std::wstring_view level) {
    if (level == L"0") {
        return 0;
    }
    if (level == L"1") {
        return 4;
    }
    if (level == L"3") {
        return 1;
    }
    return 2;
}

EventLevelLineError ParseEventLevelLine(std::wstring_view line, EventLevelEntry& entry) {
    // The same result as matching "^(.+?),(.+)$", without a backtracking matcher whose recursion
    // grows with the line: "." takes any character but CR and LF, so such a line never matches;
    // otherwise the shortest level is the text before the first comma that is not the line's first
    // character, and the line matches when something follows that comma.
    if (line.find_first_of(L"\r\n") != std::wstring_view::npos) {
        return EventLevelLineError::kInvalid;
    }
    std::size_t comma = line.size() > 1 ? line.find(L',', 1) : std::wstring_view::npos;
    if (comma == std::wstring_view::npos || comma + 1 >= line.size()) {
        return EventLevelLineError::kInvalid;
    }
    std::wstring_view pattern = line.substr(comma + 1);
    std::size_t first = pattern.find_first_not_of(kTrimmed);
    if (first == std::wstring_view::npos) {
        pattern = {};
    } else {
        pattern = pattern.substr(first, pattern.find_last_not_of(kTrimmed) - first + 1);
    }
    entry.eventType = LevelToEventType(line.substr(0, comma));
    entry.pattern.assign(pattern);
    if (platform::Utf16Length(entry.pattern) > kPatternLengthLimit) {
        return EventLevelLineError::kPatternTooLong;
    }
    return EventLevelLineError::kNone;
}

EventLevelList LoadEventLevels(const std::wstring& path) {
    EventLevelList levels;
    for (const std::wstring& line : ReadSettingLines(path, false)) {
        EventLevelEntry entry;
        switch (ParseEventLevelLine(line, entry)) {
            case EventLevelLineError::kNone:
                levels.push_back(std::move(entry));
                break;
            case EventLevelLineError::kInvalid:
                ReportSettingsReadError(FormatLineMessage(kLevelInvalid, line));
                break;
            case EventLevelLineError::kPatternTooLong:
                ReportSettingsReadError(FormatLineMessage(kLevelPatternTooLong, entry.pattern));
                break;
        }
    }
    return levels;
}
