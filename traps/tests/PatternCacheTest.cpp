#include <gtest/gtest.h>

#include <regex>

#include "traps/PatternCache.h"

namespace {

using Alternatives = std::vector<std::wstring>;

TEST(PatternCacheTest, OnlyPlainWordsAndTheirAlternativesAreLiteral) {
    struct Case {
        std::wstring pattern;
        Alternatives expected;
    };
    const Case cases[] = {
        {L"linkDown", {L"linkDown"}},
        {L"coldStart|warmStart", {L"coldStart", L"warmStart"}},
        {L"sysName = lab 1", {L"sysName = lab 1"}},
        {L"リンク断|ﾘﾝｸ", {L"リンク断", L"ﾘﾝｸ"}},
        {L"a|", {}},
        {L"|a", {}},
        {L"a||b", {}},
        {L"", {}},
        {L"linkUp$", {}},
        {L"^Core", {}},
        {L"if.*Down", {}},
        {L"a\\|b", {}},
        {L"(a)", {}},
        {L"[ab]", {}},
        {L"a{2}", {}},
        {L"a+", {}},
        {L"a?", {}},
        {L"a}", {}},
        {L"a]", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CPatternCache::LiteralAlternatives(c.pattern), c.expected)
            << std::string(c.pattern.begin(), c.pattern.end());
    }
}

// The substring search must find exactly what the regular expression finds.
TEST(PatternCacheTest, SearchAgreesWithTheRegularExpression) {
    const std::wstring patterns[] = {L"linkDown",    L"coldStart|warmStart",
                                     L"linkUp$",     L"^Router",
                                     L"Down|Up",     L"if.*Down",
                                     L"= OID: link", L"public\t",
                                     L"x|y|z",       L"リンク",
                                     L"^z$",         L"^linkUp|z",
                                     L"^",           L"$",
                                     L"^$",          L"Up\\$",
                                     L"\\^a",        L"^a|b$"};
    const std::wstring texts[] = {
        L"",
        L"Router1 : 192.0.2.1\t  public\t  V2c\n\tsnmpTrapOID.0 = OID: linkDown\n",
        L"warmStart",
        L"a coldStart",
        L"linkUp",
        L"linkUp\n",
        L"router リンク",
        L"z",
        L"zz",
        L"Up$",
        L"^a",
        L"a\nRouter\nlinkUp\nz",
    };
    CPatternCache cache;
    for (const std::wstring& pattern : patterns) {
        std::shared_ptr<const CPatternCache::Compiled> compiled = cache.Get(pattern);
        ASSERT_TRUE(compiled->valid);
        const std::wregex regex(pattern);
        for (const std::wstring& text : texts) {
            EXPECT_EQ(compiled->Search(text), std::regex_search(text, regex))
                << std::string(pattern.begin(), pattern.end()) << " in text "
                << std::string(text.begin(), text.end());
        }
    }
}

TEST(PatternCacheTest, AWordAnchoredAtOneEndIsSearchedWithoutTheRegularExpression) {
    CPatternCache cache;
    EXPECT_TRUE(cache.Get(L"^Core switch")->atStart);
    EXPECT_FALSE(cache.Get(L"^Core switch")->atEnd);
    EXPECT_TRUE(cache.Get(L"linkUp$")->atEnd);
    EXPECT_EQ(cache.Get(L"^z$")->literals, Alternatives{L"z"});
    EXPECT_TRUE(cache.Get(L"^a|b$")->literals.empty());
    EXPECT_TRUE(cache.Get(L"Up\\$")->literals.empty());
    EXPECT_TRUE(cache.Get(L"^")->literals.empty());
}

TEST(PatternCacheTest, RequiredWordsAreThoseEveryMatchContains) {
    struct Case {
        std::wstring pattern;
        Alternatives expected;
    };
    const Case cases[] = {
        {L"ifAlias.*maintenance", {L"ifAlias", L"maintenance"}},
        {L"^Lab .*down$", {L"Lab ", L"down"}},
        {L"colou?r", {L"colo", L"r"}},
        {L"ab*c", {L"a", L"c"}},
        {L"ab+c", {L"ab", L"c"}},
        {L"a*", {}},
        {L"a|b", {}},
        {L"(ab)*", {}},
        {L"a{2}", {}},
        {L"\\.x", {}},
        {L"x+?y", {L"x", L"y"}},
        {L"x*?y", {L"y"}},
        {L"a.+b", {L"a", L"b"}},
        // A quantifier on a quantifier repeats the whole quantified part ("qqq+*" is "(qqq+)*"
        // and matches every text), one on an anchor or at the start is the library's own reading:
        // no words are required.
        {L"qqq+*", {}},
        {L"X+??", {}},
        {L"X+?*", {}},
        {L"ab**", {}},
        {L"a??+", {}},
        {L"*a", {}},
        {L"^*a", {}},
        {L"a$?", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CPatternCache::RequiredWords(c.pattern), c.expected)
            << std::string(c.pattern.begin(), c.pattern.end());
    }
}

TEST(PatternCacheTest, AnInvalidPatternKeepsItsErrorAndIsCompiledOnce) {
    CPatternCache cache;
    std::shared_ptr<const CPatternCache::Compiled> first = cache.Get(L"a(");
    EXPECT_FALSE(first->valid);
    EXPECT_FALSE(first->error.empty());
    EXPECT_EQ(cache.Get(L"a("), first);
}

// Texts longer than the backtracking limit are searched in one pass of the automaton; forced here
// on short texts, it must find exactly what the backtracking search finds.
TEST(PatternCacheTest, TheOnePassSearchAgreesWithBacktracking) {
    const std::wstring patterns[] = {
        L"if.*Down",   L"^Rout[e]r",     L"Dow[n]$",     L"^$",        L"a|^b",
        L"\\bUp\\b",   L"\\Bp",          L"[^Z]*Z",      L"(.|\n)*Z",  L"x+?y",
        L"(ab|a)c",    L"[0-9]{2,3}\\.", L"^(a|b)*$",    L"\\s{2}V2c", L"a{0}",
        L"(?:x|y)z?$", L"[^]",           L"\\d+ days, ", L"^.*$",      L"\\n\\t",
    };
    const std::wstring texts[] = {
        L"",
        L"b",
        L"Router1 : 192.0.2.1\t  public\t  V2c\n\t  ifIndex.1 = INTEGER: 1\n",
        L"ifDown",
        L"linkUp Up",
        L"pUp",
        L"abc ac aac",
        L"xxxy",
        L"ZZZ",
        L"a\nb\nZ",
        L"Timeticks: (4711) 0 days, 00:00:47.11",
        L"12.3",
        L"abab",
        L"yz",
    };
    CPatternCache cache;
    for (const std::wstring& pattern : patterns) {
        std::shared_ptr<const CPatternCache::Compiled> compiled = cache.Get(pattern);
        ASSERT_TRUE(compiled->valid);
        ASSERT_TRUE(compiled->linear.has_value()) << std::string(pattern.begin(), pattern.end());
        const std::wregex regex(pattern);
        for (const std::wstring& text : texts) {
            EXPECT_EQ(compiled->SearchLinear(text), std::regex_search(text, regex))
                << std::string(pattern.begin(), pattern.end()) << " in text "
                << std::string(text.begin(), text.end());
        }
    }
}

// The backtracking search recurses once or more per character it takes: in a text of tens of
// thousands of characters it would overflow the stack of the thread (a crash of the process).
TEST(PatternCacheTest, LongTextsAreSearchedWithoutExhaustingTheStack) {
    std::wstring text;
    for (int i = 0; i < 12000; ++i) {
        text += L"ab\n x";  // 60,000 characters
    }
    struct Case {
        std::wstring pattern;
        bool found;
    };
    const Case cases[] = {
        {L"[^Z]*Z", false},      {L"(.|\n)*Z", false},   {L"(a|b| |x|\n)*Z", false},
        {L"(.|\n)*x$", true},    {L"^(ab\n x)+$", true}, {L"b\n x[a-z]+$", false},
        {L"[a-z ]+\n x$", true},
    };
    CPatternCache cache;
    for (const Case& c : cases) {
        EXPECT_EQ(cache.Get(c.pattern)->Search(text), c.found)
            << std::string(c.pattern.begin(), c.pattern.end());
    }
}

// A back-reference or a lookahead keeps a pattern to the backtracking search, which runs long
// texts on a thread with a large stack: far beyond the length at which it would overflow an
// 8 MiB stack (about 26,000 characters for the first pattern). ThreadSanitizer records the call
// stack of every allocation and stops the process when one is 65,536 calls deep or more, which
// this search reaches at about 10,000 characters; under it the texts are a sixth as long: still
// past the calling thread's limit, they take the large stack's thread, but lengths that would
// overflow a default stack are not tried there.
TEST(PatternCacheTest, PatternsThatOnlyBacktrackSearchLongTexts) {
#ifdef VORMA_TSAN
    constexpr int kRepeats = 1000;  // 6,000 characters
#else
    constexpr int kRepeats = 6000;  // 36,000 characters
#endif
    std::wstring text;
    for (int i = 0; i < kRepeats; ++i) {
        text += L"ab\n xB";
    }
    struct Case {
        std::wstring pattern;
        std::wstring tail;  // appended to the text
        bool found;
    };
    const Case cases[] = {
        {L"^(?!.*zzz)[\\s\\S]*MARK", L"MARK", true},
        {L"^(?!.*zzz)[\\s\\S]*MARK", L"zzz MARK", true},  // "." stops at the first line end
        {L"^(?![\\s\\S]*zzz)[\\s\\S]*MARK", L"zzz MARK", false},
        {L"^(?!.*zzz)[\\s\\S]*MARK", L"", false},
        {L"(B)\\1?", L"", true},
        {L"(Q)\\1", L"Q", false},
        {L"(Q)\\1", L"QQ", true},
        {L"(?:a|b|\n| |x|B)*(?=MARK$)", L"MARK", true},
    };
    CPatternCache cache;
    for (const Case& c : cases) {
        std::shared_ptr<const CPatternCache::Compiled> compiled = cache.Get(c.pattern);
        ASSERT_TRUE(compiled->valid);
        EXPECT_FALSE(compiled->linear.has_value());
        const std::wstring searched = text + c.tail;
        ASSERT_GT(compiled->textLimit, searched.size());
        ASSERT_LT(compiled->inlineTextLimit, searched.size()) << "not searched on the large stack";
        EXPECT_EQ(compiled->Search(searched), c.found)
            << std::string(c.pattern.begin(), c.pattern.end());
    }
}

// Beyond a pattern's text limit the search fails with the library's error for a match beyond its
// resources, instead of overflowing the stack.
TEST(PatternCacheTest, TextsBeyondThePatternsLimitFailWithTheStackError) {
    CPatternCache cache;
    for (const std::wstring pattern : {L"(a)\\1", L"a(?=a)", L"^(?!b)", L"(?:(a)\\1?){2}"}) {
        std::shared_ptr<const CPatternCache::Compiled> compiled = cache.Get(pattern);
        ASSERT_TRUE(compiled->valid);
        ASSERT_FALSE(compiled->linear.has_value());
        EXPECT_TRUE(compiled->Search(std::wstring(compiled->inlineTextLimit, L'a')));
        EXPECT_TRUE(compiled->Search(std::wstring(compiled->inlineTextLimit + 1, L'a')));
        try {
            compiled->Search(std::wstring(compiled->textLimit + 1, L'a'));
            ADD_FAILURE() << "no error for " << std::string(pattern.begin(), pattern.end());
        } catch (const std::regex_error& e) {
            EXPECT_EQ(e.code(), std::regex_constants::error_stack);
        }
    }
}

// The limits follow the stack a character may cost: more for a bigger pattern, far more for a
// counted repetition.
TEST(PatternCacheTest, StackWeightGrowsWithWhatACharacterMayPassThrough) {
    struct Case {
        std::wstring pattern;
        std::size_t weight;
    };
    const Case cases[] = {
        {L"a", 1},
        {L"abc", 3},
        {L"\\d+", 2},
        {L"[a-z\\]]*", 2},
        {L"[]a]", 1},
        {L"(a)", 3},
        {L"(a|b)*", 6},
        {L"a{3}", 5},
        {L"a{2,5}", 7},
        {L"a{4,}", 6},
        {L"(ab){2}", 4 + 4 * 3},
        {L"((a){10}){10}", 38 + 38 * 11},
        {L"", 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CPatternCache::StackWeight(c.pattern), c.weight)
            << std::string(c.pattern.begin(), c.pattern.end());
    }
}

}  // namespace
