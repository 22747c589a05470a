#include "traps/ListEvaluation.h"

#include <regex>

#include "platform/Text.h"
#include "service/EventLogReporter.h"
#include "traps/PatternCache.h"

namespace {

enum class Evaluation { kFilter, kLevel };

void ReportPatternError(Evaluation evaluation, const std::wstring& description) {
    if (evaluation == Evaluation::kFilter) {
        ReportToEventLog(MSG_SETTINGS_ERROR, kEventError,
                         {FormatResourceMessage(IDS_FILTER_ERROR, {description})});
    } else {
        ReportToEventLog(MSG_EVENT_LEVEL_ERROR, kEventError,
                         {FormatResourceMessage(IDS_EVENT_LEVEL_ERROR, {description})});
    }
}

// Whether `pattern` is found in `text`; errors are reported and count as no match.
bool Matches(const std::wstring& text, const std::wstring& pattern, Evaluation evaluation) {
    std::shared_ptr<const CPatternCache::Compiled> compiled = CPatternCache::Shared().Get(pattern);
    if (!compiled->valid) {
        ReportPatternError(evaluation, compiled->error);
        return false;
    }
    try {
        return compiled->Search(text);
    } catch (const std::exception& e) {
        ReportPatternError(evaluation, platform::LocaleToWide(e.what()));
        return false;
    }
}

// The text as the patterns see it: up to its first NUL.
std::wstring SearchedText(const std::wstring& text) {
    std::size_t nul = text.find(L'\0');
    return nul == std::wstring::npos ? text : text.substr(0, nul);
}

}  // namespace

bool IsExcluded(const std::wstring& text, const std::vector<std::wstring>& whiteList,
                const std::vector<std::wstring>& blackList) {
    const std::wstring searched = SearchedText(text);
    bool excluded = true;
    if (whiteList.empty()) {
        excluded = false;
    } else {
        for (const std::wstring& pattern : whiteList) {
            if (Matches(searched, pattern, Evaluation::kFilter)) {
                excluded = false;
                break;
            }
        }
    }
    if (!excluded) {
        for (const std::wstring& pattern : blackList) {
            if (Matches(searched, pattern, Evaluation::kFilter)) {
                excluded = true;
                break;
            }
        }
    }
    return excluded;
}

std::uint16_t GetEventType(const std::wstring& text, const EventLevelList& levelList) {
    const std::wstring searched = SearchedText(text);
    for (const EventLevelEntry& entry : levelList) {
        if (Matches(searched, entry.pattern, Evaluation::kLevel)) {
            return entry.eventType;
        }
    }
    return kEventWarning;
}
