// The event level file EventLevel.txt: each line "level,pattern" gives the trap texts that the
// pattern matches an event type.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr wchar_t kEventLevelFile[] = L"Config\\EventLevel.txt";

struct EventLevelEntry {
    std::uint16_t eventType = 2;  // the Windows event type: 0, 1, 2 or 4
    std::wstring pattern;
};

using EventLevelList = std::vector<EventLevelEntry>;

// "0" success (0), "1" information (4), "2" warning (2), "3" error (1), anything else warning.
// The whole text is compared: "01" and " 1" are anything else.
std::uint16_t LevelToEventType(std::wstring_view level);

enum class EventLevelLineError {
    kNone,
    kInvalid,         // the line is not "level,pattern"
    kPatternTooLong,  // the trimmed pattern is longer than 1,024 characters
};

// Takes a line apart as "^(.+?),(.+)$" (ECMAScript) matches it: the level is the text before the
// first comma that has at least one character before it and one after it, the pattern the rest,
// trimmed of blanks, TAB, VT, CR and LF at both ends. `entry.pattern` holds the trimmed pattern
// also when it is too long.
EventLevelLineError ParseEventLevelLine(std::wstring_view line, EventLevelEntry& entry);

// The level list of a file, in file order. Bad lines are reported and left out; a missing file
// gives an empty list without a report.
EventLevelList LoadEventLevels(const std::wstring& path);
