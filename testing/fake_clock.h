#pragma once

#include <vector>

#include "platform/clock.h"

// A clock that stands still until a test moves it; pauses are recorded, not waited.
class FakeClock final : public Clock {
public:
    std::int64_t now() override { return seconds; }
    LocalTime localTime() override { return local; }
    int utcOffsetMinutes() override { return offsetMinutes; }
    void sleepMs(int milliseconds) override { pauses.push_back(milliseconds); }

    std::int64_t seconds = 1'000'000'000;
    LocalTime local{2003, 2, 3, 19, 7, 5, 9, 42};  // Wed 02/19/2003 07:05:09.042
    int offsetMinutes = 0;
    std::vector<int> pauses;
};
