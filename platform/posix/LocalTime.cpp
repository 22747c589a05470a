#include "platform/LocalTime.h"

#include <time.h>

namespace platform {

LocalTime ToLocalTime(std::chrono::system_clock::time_point when) {
    LocalTime result;
    time_t seconds = std::chrono::system_clock::to_time_t(when);
    struct tm parts = {};
    if (::localtime_r(&seconds, &parts) == nullptr) {
        return result;
    }
    result.year = parts.tm_year + 1900;
    result.month = parts.tm_mon + 1;
    result.day = parts.tm_mday;
    result.hour = parts.tm_hour;
    result.minute = parts.tm_min;
    result.second = parts.tm_sec;
    return result;
}

}  // namespace platform
