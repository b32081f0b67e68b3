#pragma once

#include <cstdint>

// One reading of the local date and time.
struct LocalTime {
    int year = 0;        // e.g. 2026
    int month = 0;       // 1..12
    int dayOfWeek = 0;   // 0 = Sunday
    int day = 0;         // 1..31
    int hour = 0;        // 0..23
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// Time and pausing, handed to whatever needs them so tests can run on a fake.
class Clock {
public:
    virtual ~Clock() = default;
    // Calendar time in whole seconds since the epoch.
    virtual std::int64_t now() = 0;
    // The local date and time, down to milliseconds.
    virtual LocalTime localTime() = 0;
    // Minutes to add to UTC to get local time now (-480 eight hours west, +330 India).
    virtual int utcOffsetMinutes() = 0;
    // Blocks for the given number of milliseconds.
    virtual void sleepMs(int milliseconds) = 0;
};

// The machine's clock and time zone.
class SystemClock final : public Clock {
public:
    std::int64_t now() override;
    LocalTime localTime() override;
    int utcOffsetMinutes() override;
    void sleepMs(int milliseconds) override;
};
