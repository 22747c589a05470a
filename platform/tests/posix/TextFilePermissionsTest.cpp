#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/TextFile.h"
#include "tests/support/TempSysRoot.h"

namespace {

namespace fs = std::filesystem;

TEST(TextFilePermissionsTest, WrittenFileHasTheGivenPermissionsWhateverItHadBefore) {
    test::TempSysRoot root;
    const fs::path file = root.path() / "written.txt";
    std::ofstream(file, std::ios::binary) << "earlier\n";
    fs::permissions(file, fs::perms::all);

    const fs::perms wanted = fs::perms::owner_read | fs::perms::owner_write;
    ASSERT_FALSE(platform::WriteTextFile(platform::WidePath(file), L"x", wanted));
    EXPECT_EQ(fs::status(file).permissions(), wanted);
}

}  // namespace
