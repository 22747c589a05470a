#include <gtest/gtest.h>

#include <thread>

#include "service/ProgramEntry.h"
#include "tests/support/TempSysRoot.h"

namespace {

TEST(ProgramEntryTest, FindSwitchFollowsTheSwitchRules) {
    struct Case {
        std::vector<std::wstring> args;
        const wchar_t* name;
        int index;
    };
    const Case cases[] = {
        {{L"prog", L"install"}, L"install", -1},  // a switch needs - or /
        {{L"prog", L"-install"}, L"install", 1},
        {{L"prog", L"/install"}, L"install", 1},
        {{L"prog", L"--install"}, L"install", 1},
        {{L"prog", L"-/install"}, L"install", 1},
        {{L"prog", L"---install"}, L"install", -1},  // the name would begin with -
        {{L"prog", L"-Install"}, L"install", -1},    // case-sensitive
        {{L"prog", L"-install:anything"}, L"install", 1},
        {{L"prog", L"-:install:x"}, L"install", 1},  // leading colons are skipped
        {{L"prog", L"-installer"}, L"install", -1},
        {{L"prog", L"-x", L"/uninstall", L"-install"}, L"uninstall", 2},
        {{L"prog", L"-install", L"-install"}, L"install", 1},
        {{L"prog", L"-install"}, L"", -1},
        {{L"prog", L"-"}, L"install", -1},
        {{L"prog", L"-::"}, L"install", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindSwitch(c.args, c.name), c.index)
            << (c.args.size() > 1 ? c.args[1] : L"") << " / " << c.name;
    }
}

TEST(ProgramEntryTest, TheGuardAdmitsOneHolder) {
    test::TempSysRoot root;
    CSingleInstanceGuard first(L"VORMASNMPManageService");
    ASSERT_TRUE(first.Open());
    EXPECT_EQ(first.Name(), L"Global\\MUTEX_QUILLON_VORMA6_VORMASNMPManageService");
    EXPECT_EQ(first.Acquire(), 0ul);

    // On Windows the mutex belongs to the thread that holds it (and a holder may take it again):
    // the second holder is another thread.
    std::thread([] {
        CSingleInstanceGuard second(L"VORMASNMPManageService");
        EXPECT_TRUE(second.Open());
        EXPECT_EQ(second.Acquire(), 0x80070102ul);  // the wait timed out: another holder
    }).join();
}

}  // namespace
