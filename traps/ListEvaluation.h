// The evaluations of the white, black and level lists over a message text, shared by trap dispatch
// and the Get pass. A pattern matches when it is found anywhere in the text (up to its first NUL).
// A pattern that does not compile, or whose search fails, is reported (event 6107 with resource
// 108, or 6108 with resource 114) and counts as not matching.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/EventLogWriter.h"
#include "settings/EventLevels.h"
#include "traps/PatternCache.h"

// True when the text must not reach the event log: no white pattern matches a non-empty white
// list, or a black pattern matches a text that the white list admitted.
bool IsExcluded(const std::wstring& text, const std::vector<std::wstring>& whiteList,
                const std::vector<std::wstring>& blackList);

// The event type of the first level pattern that matches the text; warning (2) when none does.
std::uint16_t GetEventType(const std::wstring& text, const EventLevelList& levelList);

// The three lists with their patterns compiled once, for a caller that evaluates many texts
// (trap dispatch): the same results as the free functions over the lists themselves, without a
// look-up of each pattern per text.
class CCompiledLists {
  public:
    CCompiledLists() = default;
    CCompiledLists(const std::vector<std::wstring>& whiteList,
                   const std::vector<std::wstring>& blackList, const EventLevelList& levelList);

    // With `events`, the pattern errors are reported through that writer (the dispatch's own, so
    // that they follow the events it collected before them); without, each on its own.
    bool IsExcluded(const std::wstring& text, platform::EventLogWriter* events = nullptr) const;
    std::uint16_t GetEventType(const std::wstring& text,
                               platform::EventLogWriter* events = nullptr) const;

    using Pattern = std::shared_ptr<const CPatternCache::Compiled>;
    struct Level {
        std::uint16_t eventType = 2;
        Pattern pattern;
    };

  private:
    std::vector<Pattern> m_white;
    std::vector<Pattern> m_black;
    std::vector<Level> m_levels;
};
