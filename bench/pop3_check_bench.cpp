// One mail check as the robot runs it: the POP3 reader logs in, reads every message, keeps
// the request lines in a durable spool in a fresh folder (synced before QUIT, as at a
// station) and deletes the messages; reports the time taken, the peak memory of this process
// and the request lines found.
//
//   pop3_check_bench SERVER:PORT USER PASSWORD SPOOL_PARENT [LINES_FILE]
//
// Prints "seconds=S peak_kb=K lines=N"; LINES_FILE receives the lines, one a line. The spool
// is made in a new folder inside SPOOL_PARENT and left there.

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
#include "spool/spool.h"

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr,
                     "usage: pop3_check_bench SERVER:PORT USER PASSWORD SPOOL_PARENT "
                     "[LINES_FILE]\n");
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
    std::string spoolParent = std::string(argv[4]) + "/check-XXXXXX";
    if (!mkdtemp(spoolParent.data())) {
        std::fprintf(stderr, "cannot make a folder in %s\n", argv[4]);
        return 1;
    }
    Spool spool(spoolParent + "/", log);

    std::vector<CollectedLine> lines;
    std::string error;
    auto start = std::chrono::steady_clock::now();
    int ok = spool.open() && readMailbox(context, lines, error, nullptr, &spool);
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    if (!ok) {
        std::fprintf(stderr, "mail check failed: %s\n", error.c_str());
        return 1;
    }
    if (argc == 6) {
        FILE* f = std::fopen(argv[5], "w");
        if (!f) {
            std::fprintf(stderr, "cannot write %s\n", argv[5]);
            return 1;
        }
        for (const CollectedLine& line : lines) std::fprintf(f, "%s\n", line.text.c_str());
        std::fclose(f);
    }
    std::printf("seconds=%.3f peak_kb=%ld lines=%zu\n", seconds.count(), peakResidentKb(),
                lines.size());
    return 0;
}
