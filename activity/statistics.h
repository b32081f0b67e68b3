#pragma once

#include <array>
#include <cstdint>

// How long requesters waited: the time from a request mail's arrival in the mailbox (IMAP's
// INTERNALDATE) to its reply's acceptance by the SMTP server, counted in buckets of whole
// seconds as a Prometheus histogram counts them (each bucket holds every wait up to its bound).
struct ReplyDelays {
    static constexpr std::array<int, 11> kBounds{1, 2, 5, 10, 30, 60, 120, 300, 600, 1800, 3600};

    std::array<std::int64_t, kBounds.size()> buckets{};  // waits up to each bound
    std::int64_t count = 0;
    std::int64_t sumSeconds = 0;

    // A wait of this many seconds (a clock that went back counts 0).
    void add(std::int64_t seconds) {
        if (seconds < 0)
            seconds = 0;
        for (std::size_t i = 0; i < kBounds.size(); ++i)
            buckets[i] += seconds <= kBounds[i] ? 1 : 0;
        ++count;
        sumSeconds += seconds;
    }
};

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
    ReplyDelays replyDelays;

    void clear() { *this = Statistics{}; }
};
