// The pattern cache against std::regex_search itself, on random patterns and texts: every
// shortcut (plain words, anchored words, required words) and the one-pass automaton must give
// exactly what the library's search of the whole text gives. Seeded, so a failure repeats; the
// seed and the number of patterns can be changed with VORMA_PATTERN_SEED and
// VORMA_PATTERN_COUNT for a longer run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <regex>
#include <string>

#include "traps/PatternCache.h"

namespace {

// Pieces of patterns: mostly the characters the texts are made of, so that patterns match often
// and the shortcuts for plain words take part, and every construct whose reading a shortcut could
// get wrong.
const wchar_t* const kPieces[] = {
    L"a",        L"a",    L"a",    L"b",    L"b",   L"c",   L" ",   L"1",   L"ab",    L"ba",
    L".",        L".",    L"*",    L"*",    L"+",   L"+",   L"?",   L"?",   L"*?",    L"+?",
    L"|",        L"|",    L"^",    L"$",    L"(",   L"(",   L")",   L")",   L"(?:",   L"(?=",
    L"(?!",      L"[ab]", L"[^a]", L"[]a]", L"\\b", L"\\B", L"\\1", L"{2}", L"{0,1}", L"{1,}",
    L"\\d",      L"\\s",  L"\\w",  L"\\.",  L"\\n", L"\n",  L"]",   L"}",   L"{",     L"\\",
    L"[\\s\\S]", L"-",    L"\\|",  L"\\$",  L"\\^", L"\\*",
};
// Pieces of the patterns that the shortcuts for plain, anchored and required words take: every
// other pattern is made of these alone.
const wchar_t* const kWordPieces[] = {
    L"a", L"b", L"c", L"ab", L"ba", L" ", L"1", L".",
    L"*", L"+", L"?", L"*?", L"+?", L"^", L"$", L"|",
};
constexpr wchar_t kTextCharacters[] = L"abc 1.\n*$^|";

bool IsQuantifier(const std::wstring& piece) {
    return piece == L"*" || piece == L"+" || piece == L"?" || piece == L"*?" || piece == L"+?" ||
           piece == L"{2}" || piece == L"{0,1}" || piece == L"{1,}";
}

// With AddressSanitizer the library's search runs about ten times slower: fewer patterns keep the
// test to seconds there, while the ordinary build runs the full number.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kPatternCount = 3000;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr std::size_t kPatternCount = 3000;
#else
constexpr std::size_t kPatternCount = 24000;
#endif
#else
constexpr std::size_t kPatternCount = 24000;
#endif

std::size_t FromEnvironment(const char* name, std::size_t fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::strtoull(value, nullptr, 10) : fallback;
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        if (c == L'\n') {
            out += "\\n";
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

TEST(PatternCacheDifferentialTest, EveryWayOfSearchingGivesWhatTheLibraryGives) {
    const std::size_t seed = FromEnvironment("VORMA_PATTERN_SEED", 20261208);
    const std::size_t patterns = FromEnvironment("VORMA_PATTERN_COUNT", kPatternCount);
    constexpr int kTextsPerPattern = 16;
    // Patterns without the automaton run on the stack thread: one thread per search, so only
    // a few texts of each.
    constexpr int kStackThreadTexts = 2;

    std::mt19937_64 random(seed);
    auto below = [&random](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    CPatternCache cache;
    std::size_t cases = 0;
    std::size_t linearCases = 0;
    std::size_t stackThreadCases = 0;
    std::size_t shortcutPatterns = 0;
    std::size_t disagreements = 0;
    for (std::size_t n = 0; n < patterns; ++n) {
        std::wstring pattern;
        const std::size_t pieces = 1 + below(7);
        int open = 0;
        int quantifiers = 0;  // in a row
        int allQuantifiers = 0;
        for (std::size_t i = 0; i < pieces; ++i) {
            std::wstring piece = n % 2 == 0 ? kPieces[below(std::size(kPieces))]
                                            : kWordPieces[below(std::size(kWordPieces))];
            // Two quantifiers in a row are read in ways of the library's own, which is what the
            // shortcuts must get right; three or more make the search exponential in the text.
            quantifiers = IsQuantifier(piece) ? quantifiers + 1 : 0;
            allQuantifiers += IsQuantifier(piece) ? 1 : 0;
            if (quantifiers > 2 || allQuantifiers > 3) {
                piece = L"a";
                quantifiers = 0;
            }
            if (piece.front() == L'(') {
                ++open;
            } else if (piece == L")" && open > 0) {
                --open;
            }
            pattern += piece;
        }
        // Mostly closed groups, so that most patterns compile.
        if (below(5) != 0) {
            pattern.append(static_cast<std::size_t>(open), L')');
        }
        std::wregex regex;
        bool valid = true;
        try {
            regex.assign(pattern, std::regex_constants::ECMAScript);
        } catch (const std::regex_error&) {
            valid = false;
        }
        std::shared_ptr<const CPatternCache::Compiled> compiled = cache.Get(pattern);
        ASSERT_EQ(compiled->valid, valid) << Narrow(pattern);
        if (!valid) {
            continue;
        }
        if (!compiled->literals.empty() || !compiled->required.empty()) {
            ++shortcutPatterns;
        }
        for (int t = 0; t < kTextsPerPattern; ++t) {
            std::wstring text;
            const std::size_t length = below(14);
            for (std::size_t i = 0; i < length; ++i) {
                text.push_back(kTextCharacters[below(std::size(kTextCharacters) - 1)]);
            }
            const bool expected = std::regex_search(text, regex);
            struct Way {
                const char* name;
                bool found;
            };
            std::vector<Way> ways{{"search", compiled->Search(text)}};
            if (compiled->linear) {
                ways.push_back({"automaton", compiled->SearchLinear(text)});
                ++linearCases;
            } else if (compiled->literals.empty() && t < kStackThreadTexts) {
                ways.push_back({"stack thread", compiled->SearchOnStackThread(text)});
                ++stackThreadCases;
            }
            for (const Way& way : ways) {
                if (way.found != expected && ++disagreements <= 20) {
                    ADD_FAILURE() << way.name << ": pattern \"" << Narrow(pattern) << "\" text \""
                                  << Narrow(text) << "\" gives " << way.found
                                  << ", std::regex_search " << expected;
                }
            }
            ++cases;
        }
    }
    EXPECT_EQ(disagreements, 0u);
    // The generator must reach every way of searching, or the test proves less than it claims.
    EXPECT_GT(cases, patterns * kTextsPerPattern / 2);
    EXPECT_GT(linearCases, cases / 4);
    EXPECT_GT(stackThreadCases, patterns / 50);
    EXPECT_GT(shortcutPatterns, patterns / 6);
    std::cout << cases << " cases (" << linearCases << " through the automaton, "
              << stackThreadCases << " on the stack thread), " << shortcutPatterns
              << " patterns with a shortcut, seed " << seed << "\n";
}

}  // namespace
