// A line of EventLevel.txt: the level-line parser, checked against the regular expression it
// stands in for ("^(.+?),(.+)$", ECMAScript) on lines short enough for the backtracking matcher.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include "fuzz/FuzzText.h"
#include "settings/EventLevels.h"
#include "settings/SettingLines.h"

namespace {

// The matcher recurses per character; short lines keep it well inside the stack.
constexpr std::size_t kOracleLineLimit = 200;
constexpr wchar_t kTrimmed[] = L" \t\v\r\n";

void Fail(const char* what) {
    std::fprintf(stderr, "event level fuzzer: %s\n", what);
    std::abort();
}

std::wstring Trim(const std::wstring& text) {
    const std::size_t first = text.find_first_not_of(kTrimmed);
    if (first == std::wstring::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kTrimmed) - first + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const auto decoding = static_cast<fuzztext::Decoding>(data[0] & 1);
    const std::wstring line = fuzztext::Decode(decoding, fuzztext::AsText(data + 1, size - 1));

    EventLevelEntry entry;
    const EventLevelLineError error = ParseEventLevelLine(line, entry);
    if (error == EventLevelLineError::kNone && entry.pattern.size() > kPatternLengthLimit) {
        Fail("a pattern beyond the limit is accepted");
    }
    if (line.size() > kOracleLineLimit) {
        return 0;
    }
    static const std::wregex kLevelLine(L"^(.+?),(.+)$");
    std::wsmatch match;
    const bool matches = std::regex_match(line, match, kLevelLine);
    if (matches != (error != EventLevelLineError::kInvalid)) {
        Fail("the parser and the regular expression disagree on a line");
    }
    if (matches && (entry.eventType != LevelToEventType(match[1].str()) ||
                    entry.pattern != Trim(match[2].str()))) {
        Fail("the parser takes the line apart unlike the regular expression");
    }
    return 0;
}
