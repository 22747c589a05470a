#include "platform/Text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "platform/win32/WindowsHeaders.h"

namespace {

using namespace platform;

TEST(Win32TextTest, ProcessLocaleIsTheSystemDefaultLocale) {
    InitProcessLocale();
    std::string name = std::setlocale(LC_ALL, nullptr);
    unsigned codePage = ::GetACP();
    std::string suffix = "." + std::to_string(codePage);
    ASSERT_GT(name.size(), suffix.size());
    EXPECT_EQ(name.substr(name.size() - suffix.size()), suffix) << name;
    EXPECT_NE(name.find('_'), std::string::npos) << name;
    EXPECT_EQ(::GetThreadLocale(), ::GetSystemDefaultLCID());
    if (PRIMARYLANGID(LANGIDFROMLCID(::GetSystemDefaultLCID())) == LANG_JAPANESE) {
        EXPECT_EQ(name, "Japanese_Japan.932");
    }
    // Text files follow the locale's code page.
    EXPECT_EQ(WideToLocale(L"日本語 abc"), WideToCodePage(codePage, L"日本語 abc"));
    EXPECT_EQ(LocaleToWide(WideToCodePage(codePage, L"abc\r\n")), L"abc\r\n");
    std::setlocale(LC_ALL, "C");
}

TEST(Win32TextTest, UnpairedSurrogatesAreReplaced) {
    const wchar_t lone[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
    EXPECT_EQ(WideToUtf8(lone),
              "a\xEF\xBF\xBD"
              "b");
    bool usedDefault = false;
    EXPECT_EQ(WideToCodePage(kCodePageUtf8, lone, &usedDefault),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_TRUE(usedDefault);
    usedDefault = true;
    EXPECT_EQ(WideToCodePage(kCodePageUtf8, L"日本", &usedDefault), "\xE6\x97\xA5\xE6\x9C\xAC");
    EXPECT_FALSE(usedDefault);
    // Bytes that are no character of code page 932 become the katakana middle dot; a surrogate
    // pair outside it is one default character, and nothing is replaced by a look-alike.
    EXPECT_EQ(CodePageToWide(kCodePage932, "a\x81"), L"a\u30FB");
    EXPECT_EQ(CodePageToWide(kCodePage932, "\x85\x40"), L"\u30FB");
    EXPECT_EQ(WideToCodePage(kCodePage932, L"\u00e9\U0001F600", &usedDefault), "??");
    EXPECT_TRUE(usedDefault);
}

}  // namespace
