#include "platform/LocalTime.h"

#include "platform/win32/WindowsHeaders.h"

namespace platform {

LocalTime ToLocalTime(std::chrono::system_clock::time_point when) {
    LocalTime result;
    // FILETIME counts 100 ns units since 1601-01-01, 11644473600 s before the Unix epoch.
    auto ticks =
        std::chrono::duration_cast<std::chrono::duration<long long, std::ratio<1, 10000000>>>(
            when.time_since_epoch())
            .count() +
        116444736000000000LL;
    if (ticks < 0) {
        return result;
    }
    FILETIME utcFile{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc{};
    SYSTEMTIME local{};
    if (!::FileTimeToSystemTime(&utcFile, &utc) ||
        !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
        return result;
    }
    result.year = local.wYear;
    result.month = local.wMonth;
    result.day = local.wDay;
    result.hour = local.wHour;
    result.minute = local.wMinute;
    result.second = local.wSecond;
    return result;
}

}  // namespace platform
