// The evaluations of the white, black and level lists over a message text, shared by trap dispatch
// and the Get pass. A pattern matches when it is found anywhere in the text (up to its first NUL).
// A pattern that does not compile, or whose search fails, is reported (event 6107 with resource
// 108, or 6108 with resource 114) and counts as not matching.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/EventLevels.h"

// True when the text must not reach the event log: no white pattern matches a non-empty white
// list, or a black pattern matches a text that the white list admitted.
bool IsExcluded(const std::wstring& text, const std::vector<std::wstring>& whiteList,
                const std::vector<std::wstring>& blackList);

// The event type of the first level pattern that matches the text; warning (2) when none does.
std::uint16_t GetEventType(const std::wstring& text, const EventLevelList& levelList);
