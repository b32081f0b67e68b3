#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "activity/statistics.h"

// What the metrics file shows: the counters of the run and the robot's health. Times are
// calendar seconds since the epoch, 0 when the event has not happened in this run.
struct MetricsSnapshot {
    Statistics statistics;
    bool up = true;  // false once the robot has stopped
    bool mailCheckEnabled = false;
    std::int64_t repliesGivenUp = 0;
    std::int64_t heldReplies = 0;  // held back by a station-side SMTP fault
    std::size_t queuedReplies = 0;
    std::int64_t startTime = 0;
    std::int64_t lastGoodCheck = 0;     // the last mail check that read the mailbox
    std::int64_t lastFailureEntry = 0;  // the last entry that went to the log file
};

// The snapshot in the Prometheus text exposition format: each metric with its HELP and TYPE
// lines, the counters as tarnwick_..._total.
std::string renderMetrics(const MetricsSnapshot& snapshot);

// The metrics file for the node exporter's textfile collector. Each update that changes the
// text replaces the file at once: the text is written to a hidden temporary file in the same
// folder (mode 0644) and renamed over the path, so a reader sees the old file or the new one,
// never a part.
class MetricsFile {
  public:
    explicit MetricsFile(std::string path) : path_(std::move(path)) {}

    // Writes the snapshot when its text differs from the one written last. Returns false with
    // the reason in error when the file could not be written; the next update tries again.
    bool update(const MetricsSnapshot& snapshot, std::string& error);

    const std::string& path() const { return path_; }

  private:
    std::string path_;
    std::string written_;  // the text now in the file
};
