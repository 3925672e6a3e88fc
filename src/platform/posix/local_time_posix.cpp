#include "platform/local_time.h"

#include <sys/time.h>
#include <time.h>

LocalTime CurrentLocalTime() {
    struct timeval now {};
    gettimeofday(&now, nullptr);
    struct tm parts {};
    const time_t seconds = now.tv_sec;
    // localtime_r: the plain localtime shares one buffer between threads.
    localtime_r(&seconds, &parts);
    LocalTime out;
    out.year = parts.tm_year + 1900;
    out.month = parts.tm_mon + 1;
    out.day = parts.tm_mday;
    out.hour = parts.tm_hour;
    out.minute = parts.tm_min;
    out.second = parts.tm_sec;
    out.millisecond = static_cast<int>(now.tv_usec / 1000);
    return out;
}
