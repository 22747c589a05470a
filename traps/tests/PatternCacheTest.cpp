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
// on short texts (limit 0), it must find exactly what the backtracking search finds.
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
            EXPECT_EQ(compiled->Search(text, 0), std::regex_search(text, regex))
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

// A back-reference or a lookahead keeps a pattern to the backtracking search: in a long text its
// search fails with the library's error for a match beyond its resources, in a short one it runs.
TEST(PatternCacheTest, PatternsThatOnlyBacktrackFailOnLongTexts) {
    const std::wstring longText(CPatternCache::kBacktrackingTextLimit + 1, L'a');
    const std::wstring shortText(CPatternCache::kBacktrackingTextLimit, L'a');
    CPatternCache cache;
    for (const std::wstring pattern : {L"(a)\\1", L"a(?=a)", L"^(?!b)"}) {
        std::shared_ptr<const CPatternCache::Compiled> compiled = cache.Get(pattern);
        ASSERT_TRUE(compiled->valid);
        EXPECT_FALSE(compiled->linear.has_value());
        EXPECT_TRUE(compiled->Search(shortText));
        try {
            compiled->Search(longText);
            ADD_FAILURE() << "no error for " << std::string(pattern.begin(), pattern.end());
        } catch (const std::regex_error& e) {
            EXPECT_EQ(e.code(), std::regex_constants::error_stack);
        }
    }
}

}  // namespace
