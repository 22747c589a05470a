#include "traps/ListEvaluation.h"

#include <regex>

#include "platform/EventLogWriter.h"
#include "platform/Text.h"
#include "reporter/EventLogReporter.h"
#include "traps/PatternCache.h"

namespace {

enum class Evaluation { kFilter, kLevel };

// Reports through `events` when the caller has a writer of its own, else on its own.
void ReportPatternError(Evaluation evaluation, const std::wstring& description,
                        platform::EventLogWriter* events) {
    const std::uint32_t eventId =
        evaluation == Evaluation::kFilter ? MSG_SETTINGS_ERROR : MSG_EVENT_LEVEL_ERROR;
    const std::wstring text = evaluation == Evaluation::kFilter
                                  ? FormatResourceMessage(IDS_FILTER_ERROR, {description})
                                  : FormatResourceMessage(IDS_EVENT_LEVEL_ERROR, {description});
    if (events != nullptr) {
        events->Report(kEventError, 0, eventId, {text});
    } else {
        ReportToEventLog(eventId, kEventError, {text});
    }
}

// Whether the compiled pattern is found in `text`; errors are reported and count as no match.
bool Matches(const std::wstring& text,
             const std::shared_ptr<const CPatternCache::Compiled>& compiled, Evaluation evaluation,
             platform::EventLogWriter* events) {
    if (!compiled->valid) {
        ReportPatternError(evaluation, compiled->error, events);
        return false;
    }
    try {
        return compiled->Search(text);
    } catch (const std::exception& e) {
        ReportPatternError(evaluation, platform::LocaleToWide(e.what()), events);
        return false;
    }
}

// A pattern of a list: looked up by its text, or compiled already.
std::shared_ptr<const CPatternCache::Compiled> CompiledOf(const std::wstring& pattern) {
    return CPatternCache::Shared().Get(pattern);
}

const std::shared_ptr<const CPatternCache::Compiled>& CompiledOf(
    const std::shared_ptr<const CPatternCache::Compiled>& pattern) {
    return pattern;
}

// The text as the patterns see it: up to its first NUL. Copied only when it holds one.
class CSearchedText {
  public:
    explicit CSearchedText(const std::wstring& text) : m_text(&text) {
        const std::size_t nul = text.find(L'\0');
        if (nul != std::wstring::npos) {
            m_cut = text.substr(0, nul);
            m_text = &m_cut;
        }
    }
    const std::wstring& Get() const { return *m_text; }

  private:
    std::wstring m_cut;
    const std::wstring* m_text;
};

template <typename List>
bool Excluded(const std::wstring& text, const List& whiteList, const List& blackList,
              platform::EventLogWriter* events) {
    const CSearchedText searched(text);
    bool excluded = true;
    if (whiteList.empty()) {
        excluded = false;
    } else {
        for (const auto& pattern : whiteList) {
            if (Matches(searched.Get(), CompiledOf(pattern), Evaluation::kFilter, events)) {
                excluded = false;
                break;
            }
        }
    }
    if (!excluded) {
        for (const auto& pattern : blackList) {
            if (Matches(searched.Get(), CompiledOf(pattern), Evaluation::kFilter, events)) {
                excluded = true;
                break;
            }
        }
    }
    return excluded;
}

template <typename List>
std::uint16_t EventType(const std::wstring& text, const List& levelList,
                        platform::EventLogWriter* events) {
    const CSearchedText searched(text);
    for (const auto& entry : levelList) {
        if (Matches(searched.Get(), CompiledOf(entry.pattern), Evaluation::kLevel, events)) {
            return entry.eventType;
        }
    }
    return kEventWarning;
}

}  // namespace

bool IsExcluded(const std::wstring& text, const std::vector<std::wstring>& whiteList,
                const std::vector<std::wstring>& blackList) {
    return Excluded(text, whiteList, blackList, nullptr);
}

std::uint16_t GetEventType(const std::wstring& text, const EventLevelList& levelList) {
    return EventType(text, levelList, nullptr);
}

namespace {

std::vector<CCompiledLists::Pattern> Compile(const std::vector<std::wstring>& patterns) {
    std::vector<CCompiledLists::Pattern> compiled;
    compiled.reserve(patterns.size());
    for (const std::wstring& pattern : patterns) {
        compiled.push_back(CPatternCache::Shared().Get(pattern));
    }
    return compiled;
}

}  // namespace

CCompiledLists::CCompiledLists(const std::vector<std::wstring>& whiteList,
                               const std::vector<std::wstring>& blackList,
                               const EventLevelList& levelList)
    : m_white(Compile(whiteList)), m_black(Compile(blackList)) {
    m_levels.reserve(levelList.size());
    for (const EventLevelEntry& entry : levelList) {
        m_levels.push_back({entry.eventType, CPatternCache::Shared().Get(entry.pattern)});
    }
}

bool CCompiledLists::IsExcluded(const std::wstring& text, platform::EventLogWriter* events) const {
    return Excluded(text, m_white, m_black, events);
}

std::uint16_t CCompiledLists::GetEventType(const std::wstring& text,
                                           platform::EventLogWriter* events) const {
    return EventType(text, m_levels, events);
}
