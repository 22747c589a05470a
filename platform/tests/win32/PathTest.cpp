#include "platform/Path.h"

#include <gtest/gtest.h>

namespace {

TEST(PathTest, AppendPutsExactlyOneSeparatorBetweenParts) {
    struct Case {
        const wchar_t* base;
        const wchar_t* more;
        const wchar_t* joined;
    };
    const Case cases[] = {
        {L"C:\\VORMA", L"Common\\snmp", L"C:\\VORMA\\Common\\snmp"},
        {L"C:\\VORMA\\", L"Common\\snmp", L"C:\\VORMA\\Common\\snmp"},
        {L"C:\\VORMA\\/", L"\\Common\\snmp", L"C:\\VORMA\\Common\\snmp"},
        {L"C:/VORMA/", L"/Common", L"C:/VORMA\\Common"},  // the native separator is added
        {L"\\", L"Windows", L"\\Windows"},
        {L"", L"Windows", L"Windows"},
        {L"C:\\", L"", L"C:\\"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::AppendPath(c.base, c.more), c.joined) << c.base << " + " << c.more;
    }
}

TEST(PathTest, NamesAreTheSystemsOwn) {
    EXPECT_EQ(platform::PathSeparator(), L'\\');
    EXPECT_EQ(platform::NativeRelativePath(L"Common\\snmp\\Config"), L"Common\\snmp\\Config");
    EXPECT_EQ(platform::ExecutableFileName(L"snmpget"), L"snmpget.exe");
    std::wstring self = platform::ModuleFilePath();
    const std::wstring name = L"\\platform_tests.exe";
    ASSERT_GT(self.size(), name.size());
    EXPECT_EQ(self.substr(self.size() - name.size()), name);
}

}  // namespace
