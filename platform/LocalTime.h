// The local time of the machine's time zone, to the second.
#pragma once

#include <chrono>

namespace platform {

struct LocalTime {
    int year = 1970;
    int month = 1;   // 1..12
    int day = 1;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..60
};

// `when` in the local time zone (localtime_r / the Win32 local-time conversion). A time the
// system cannot convert gives 1970-01-01 00:00:00.
LocalTime ToLocalTime(std::chrono::system_clock::time_point when);

}  // namespace platform
