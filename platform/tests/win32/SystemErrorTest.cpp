#include "platform/SystemError.h"

#include <gtest/gtest.h>

#include "platform/Win32Error.h"
#include "platform/win32/WindowsHeaders.h"

namespace {

TEST(SystemErrorTest, TextsComeFromTheSystemTableWithoutLineEnd) {
    for (std::uint32_t code : {platform::kErrorFileNotFound, platform::kErrorAccessDenied,
                               platform::kErrorServiceExists}) {
        std::wstring text = platform::SystemErrorText(code);
        EXPECT_FALSE(text.empty()) << code;
        ASSERT_FALSE(text.empty());
        EXPECT_NE(text.back(), L'\n') << code;
        EXPECT_NE(text.back(), L'\r') << code;
    }
    EXPECT_EQ(platform::SystemErrorText(0), L"");
    EXPECT_EQ(platform::SystemErrorText(0x2FFFFFFu), L"");
}

TEST(SystemErrorTest, LastErrorIsTheThreadsOwn) {
    ::SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_EQ(platform::LastSystemError(), platform::kErrorServiceDoesNotExist);
}

}  // namespace
