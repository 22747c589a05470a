// The message table and the string table are real resources of the program on Windows, compiled
// by windmc and windres from the same source as the POSIX tables: every text must come out the
// same.
#include "platform/Resources.h"

#include <gtest/gtest.h>

#include "platform/posix/ResourceTables.h"
#include "platform/win32/WindowsHeaders.h"

namespace {

using namespace platform;

TEST(ResourcesTest, StringTableMatchesTheGeneratedTable) {
    ASSERT_GT(resources::kStringCount, 0u);
    for (std::size_t i = 0; i < resources::kStringCount; ++i) {
        EXPECT_EQ(LoadStringResource(resources::kStrings[i].id), resources::kStrings[i].text)
            << "string " << resources::kStrings[i].id;
    }
    EXPECT_EQ(LoadStringResource(9999), L"");
}

TEST(ResourcesTest, MessageTableMatchesTheGeneratedTableInBothLanguages) {
    ASSERT_GT(resources::kMessageCount, 0u);
    for (std::size_t i = 0; i < resources::kMessageCount; ++i) {
        const resources::MessageEntry& entry = resources::kMessages[i];
        EXPECT_EQ(LoadMessageResource(entry.id, kLangEnglish), std::wstring(entry.english))
            << std::hex << entry.id;
        EXPECT_EQ(LoadMessageResource(entry.id, kLangJapanese), std::wstring(entry.japanese))
            << std::hex << entry.id;
    }
    EXPECT_FALSE(LoadMessageResource(0x12345, kLangEnglish).has_value());
}

TEST(ResourcesTest, MessageLanguageFollowsTheThreadLocale) {
    LCID saved = ::GetThreadLocale();
    ::SetThreadLocale(MAKELCID(MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN), SORT_DEFAULT));
    EXPECT_EQ(ProcessMessageLanguage(), kLangJapanese);
    ::SetThreadLocale(MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT));
    EXPECT_EQ(ProcessMessageLanguage(), kLangEnglish);
    ::SetThreadLocale(saved);
}

}  // namespace
