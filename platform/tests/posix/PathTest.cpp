#include <gtest/gtest.h>

#include "platform/Path.h"

namespace {

TEST(PathTest, AppendPuttsExactlyOneSeparatorBetweenParts) {
    struct Case {
        const wchar_t* base;
        const wchar_t* more;
        const wchar_t* joined;
    };
    const Case cases[] = {
        {L"/opt/vorma", L"Common/snmp", L"/opt/vorma/Common/snmp"},
        {L"/opt/vorma/", L"Common/snmp", L"/opt/vorma/Common/snmp"},
        {L"/opt/vorma//", L"/Common/snmp", L"/opt/vorma/Common/snmp"},
        {L"/", L"etc", L"/etc"},
        {L"", L"etc", L"etc"},
        {L"/opt", L"", L"/opt"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::AppendPath(c.base, c.more), c.joined) << c.base << " + " << c.more;
    }
}

TEST(PathTest, RelativePathsUseTheNativeSeparator) {
    EXPECT_EQ(platform::NativeRelativePath(L"Common\\snmp\\Config"), L"Common/snmp/Config");
    EXPECT_EQ(platform::ExecutableFileName(L"snmpget"), L"snmpget");
    EXPECT_FALSE(platform::ModuleFilePath().empty());
}

}  // namespace
