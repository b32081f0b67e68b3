#include "platform/clock.h"

#include <cerrno>
#include <ctime>

namespace {

struct timespec realNow() {
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts;
}

}  // namespace

std::int64_t SystemClock::now() { return realNow().tv_sec; }

LocalTime SystemClock::localTime() {
    struct timespec ts = realNow();
    struct tm tm {};
    localtime_r(&ts.tv_sec, &tm);
    LocalTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.dayOfWeek = tm.tm_wday;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    return t;
}

int SystemClock::utcOffsetMinutes() {
    time_t t = time(nullptr);
    struct tm tm {};
    localtime_r(&t, &tm);
    return static_cast<int>(tm.tm_gmtoff / 60);
}

void SystemClock::sleepMs(int milliseconds) {
    if (milliseconds <= 0)
        return;
    struct timespec req {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (nanosleep(&req, &req) != 0 && errno == EINTR) {
    }
}
