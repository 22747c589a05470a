// Compiled regular expressions of the white, black and level lists, kept per pattern text.
//
// The lists never change after start-up, so each pattern is compiled once instead of once for
// every text. A pattern that does not compile keeps its error text, so that every text that
// reaches it is still reported, exactly as if it had been compiled anew.
//
// A search gives what std::regex_search (ECMAScript, default options) of the whole text gives. It
// takes the cheapest of these ways that is exact for the pattern:
//   - a pattern of plain words ("linkDown", "coldStart|warmStart", "^Core", "Up$") is a substring
//     search;
//   - a pattern whose every match holds certain words is not searched in a text that lacks one;
//   - a short text is searched by the library's backtracking matcher on the calling thread;
//   - a longer text is searched in one pass of the pattern's automaton (a search for
//     "[\s\S]*?(?:PATTERN)" anchored at the start of the text), whose recursion is bounded by
//     the size of the pattern;
//   - a pattern with a back-reference or a lookahead has no such automaton: a longer text is
//     searched by the backtracking matcher on a thread of its own with a large stack.
//
// The backtracking matcher recurses for every character it takes, and deeper for every part of
// the pattern that a character passes through: on an 8 MiB stack "^(?!.*zzz)[\s\S]*MARK"
// overflows at about 26,000 characters (320 bytes a character). So how long a text may be
// searched that way is set per pattern, from an upper estimate of the stack one character costs
// (StackWeight). A text longer than that fails with the library's error for a match beyond its
// resources (std::regex_constants::error_stack), which the caller reports like any failing
// search; std::regex_search itself would overflow the stack there and end the process.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <unordered_map>
#include <vector>

class CPatternCache {
  public:
    // Stack of the thread that searches long texts by backtracking. Reserved address space: only
    // what a search touches takes memory, and only while it runs.
    static constexpr std::size_t kStackThreadSize = std::size_t{512} << 20;
    // The part of it that a search may use; the rest is the margin.
    static constexpr std::size_t kStackThreadBudget = kStackThreadSize / 2;
    // The stack that a backtracking search may use on the calling thread (a dispatch thread or
    // the Get pass, whose stacks are the system's default: 8 MiB on Linux, 1 MiB or more on
    // Windows). An estimate: the real use is a quarter of it or less.
    static constexpr std::size_t kCallerStackBudget = std::size_t{1} << 20;
    // Longest text searched by backtracking on the calling thread whatever the pattern.
    static constexpr std::size_t kInlineTextLimit = 1000;
    // Upper estimate of the stack one character of the text costs per unit of StackWeight.
    // Measured (RelWithDebInfo, x86-64): 15 to 70 bytes per unit, about 1.5 times that with
    // AddressSanitizer.
    static constexpr std::size_t kStackBytesPerUnit = 256;

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
        // Longest text searched by backtracking on the calling thread, and on the stack thread.
        std::size_t inlineTextLimit = 0;
        std::size_t textLimit = 0;

        // Whether the pattern is found in `text` (a valid pattern only). Throws std::regex_error
        // (error_stack) for a text beyond `textLimit` that the automaton cannot search, and
        // std::system_error when the stack thread cannot be started; otherwise what
        // std::regex_search throws.
        bool Search(const std::wstring& text) const;

        // The single ways of searching, for tests: the automaton (`linear` must be set), and the
        // backtracking matcher on the stack thread (whatever the length of the text).
        bool SearchLinear(const std::wstring& text) const;
        bool SearchOnStackThread(const std::wstring& text) const;
    };

    // The alternatives of a pattern made only of literal text separated by '|', none of them
    // empty; empty when the pattern holds any other ECMAScript special character.
    static std::vector<std::wstring> LiteralAlternatives(const std::wstring& pattern);

    // Words every match of `pattern` contains, for a pattern whose only special characters are
    // ^ $ . * + ? in their ordinary places; empty for any other pattern.
    static std::vector<std::wstring> RequiredWords(const std::wstring& pattern);

    // An upper estimate of the matcher's states that one character of the text may pass through:
    // one per character of the pattern, with a counted repetition ({n}, {n,m}) counting its
    // operand as often as it may repeat. At least 1.
    static std::size_t StackWeight(const std::wstring& pattern);

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
