#pragma once

#include <cstdint>

// The counters of the current run: zeroed at start-up and by the Statistics dialog's Clear,
// never saved. 64-bit so that a long run cannot wrap them. The dialog shows the first six;
// sendFailures, the replies the SMTP server did not take at a try, is for the metrics file.
struct Statistics {
    std::int64_t popLoginAttempts = 0;
    std::int64_t goodPopLogins = 0;
    std::int64_t badPopLogins = 0;
    std::int64_t requestFiles = 0;
    std::int64_t eventFilesSent = 0;
    std::int64_t bytesSent = 0;
    std::int64_t sendFailures = 0;

    void clear() { *this = Statistics{}; }
};
