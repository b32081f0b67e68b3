// One mail check with the robot's POP3 reader: logs in, reads and deletes every message,
// and reports the time taken, the peak memory of this process and the request lines found.
//
//   pop3_check_bench SERVER:PORT USER PASSWORD [LINES_FILE]
//
// Prints "seconds=S peak_kb=K lines=N"; LINES_FILE receives the lines, one a line.

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "activity/activity_log.h"
#include "activity/statistics.h"
#include "bench/bench_files.h"
#include "mail/pop3_reader.h"
#include "platform/clock.h"
#include "settings/mailer_settings.h"

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: pop3_check_bench SERVER:PORT USER PASSWORD [LINES_FILE]\n");
        return 2;
    }
    SystemClock clock;
    MailerSettings settings;
    resetSettings(settings);
    settings.popServer = argv[1];
    settings.popUser = argv[2];
    settings.popPassword = argv[3];
    ActivityLog log(clock, "");
    Statistics statistics;
    MailContext context{settings, log, statistics, clock, 30000};

    std::vector<std::string> lines;
    std::string error;
    auto start = std::chrono::steady_clock::now();
    int ok = readMailbox(context, lines, error);
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    if (!ok) {
        std::fprintf(stderr, "mail check failed: %s\n", error.c_str());
        return 1;
    }
    if (argc == 5) {
        FILE* f = std::fopen(argv[4], "w");
        if (!f) {
            std::fprintf(stderr, "cannot write %s\n", argv[4]);
            return 1;
        }
        for (const std::string& line : lines) std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
    std::printf("seconds=%.3f peak_kb=%ld lines=%zu\n", seconds.count(), peakResidentKb(),
                lines.size());
    return 0;
}
