// Compiled regular expressions of the white, black and level lists, kept per pattern text.
//
// The lists never change after start-up, so each pattern is compiled once instead of once for
// every text. A pattern that does not compile keeps its error text, so that every text that
// reaches it is still reported, exactly as if it had been compiled anew.
//
// Most patterns are plain words ("linkDown") or alternatives of plain words
// ("coldStart|warmStart"). For those a search is a substring search, which finds exactly what the
// regular expression finds at a fraction of its cost; every other pattern goes through the regular
// expression.
//
// The regular expression itself is searched by backtracking only in texts short enough for its
// recursion, which grows with the length of the text, to stay far from the end of a thread's
// stack. A longer text is searched in one pass of the pattern's automaton (a search for
// "[\s\S]*?(?:PATTERN)" anchored at the start of the text), which gives the same answer with a
// recursion bounded by the size of the pattern. A pattern with a back-reference or a lookahead
// cannot be searched that way; in a longer text its search fails with the regular-expression
// facility's error for a match beyond its resources, which is reported like any failing search.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <unordered_map>
#include <vector>

class CPatternCache {
  public:
    // Longest text that the backtracking search is given. Its recursion takes some hundred bytes
    // of stack per character of the text; a thousand characters, which hold any ordinary trap,
    // stay far inside the smallest thread stack of the supported systems.
    static constexpr std::size_t kBacktrackingTextLimit = 1000;

    struct Compiled {
        std::wregex regex;
        bool valid = false;
        std::wstring error;  // the regular-expression facility's description when not valid
        // When the pattern is one or more literal alternatives: the alternatives.
        std::vector<std::wstring> literals;
        // When the pattern is "^WORD", "WORD$" or "^WORD$": the word in `literals` and where it
        // must stand.
        bool atStart = false;
        bool atEnd = false;
        // Words that every match of the regular expression contains.
        std::vector<std::wstring> required;
        // The pattern as an automaton searched in one pass ("[\s\S]*?(?:PATTERN)"); not set for
        // a pattern with a back-reference or a lookahead.
        std::optional<std::wregex> linear;

        // Whether the pattern is found in `text` (a valid pattern only). Texts longer than
        // `backtrackingLimit` characters are searched in one pass, or, where the pattern cannot be
        // searched that way, fail with std::regex_error (error_stack). May throw what
        // std::regex_search throws.
        bool Search(const std::wstring& text,
                    std::size_t backtrackingLimit = kBacktrackingTextLimit) const;
    };

    // The alternatives of a pattern made only of literal text separated by '|', none of them
    // empty; empty when the pattern holds any other ECMAScript special character.
    static std::vector<std::wstring> LiteralAlternatives(const std::wstring& pattern);

    // Words every match of `pattern` contains, for a pattern whose only special characters are
    // ^ $ . * + ?; empty for any other pattern.
    static std::vector<std::wstring> RequiredWords(const std::wstring& pattern);

    // The compiled form of `pattern` (ECMAScript, default options, case-sensitive).
    std::shared_ptr<const Compiled> Get(const std::wstring& pattern);

    // The cache shared by every dispatch thread and the Get pass of the process.
    static CPatternCache& Shared();

  private:
    // More distinct patterns than any list holds: past this the cache starts afresh, so a caller
    // that feeds it arbitrary texts cannot make it grow without bound.
    static constexpr std::size_t kMaxEntries = 4096;

    std::mutex m_mutex;
    std::unordered_map<std::wstring, std::shared_ptr<const Compiled>> m_entries;
};
