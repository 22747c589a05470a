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

}  // namespace
