// Composes and sends replies with one attachment each, as the robot does, and reports the
// time taken and the peak memory of this process.
//
//   smtp_send_bench SERVER:PORT FILE COUNT
//
// Prints "seconds=S peak_kb=K".

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "activity/activity_log.h"
#include "activity/statistics.h"
#include "bench/bench_files.h"
#include "mail/mime_composer.h"
#include "settings/mailer_settings.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: smtp_send_bench SERVER:PORT FILE COUNT\n");
        return 2;
    }
    SystemClock clock;
    MailerSettings settings;
    resetSettings(settings);
    ActivityLog log(clock, "");
    Statistics statistics;
    MailContext context{settings, log, statistics, clock, 30000};
    MailJob job = eventFileReply(argv[2]);
    settings.smtpServer = argv[1];
    int count = std::atoi(argv[3]);

    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        std::string error;
        if (!sendMailJob(context, job, error)) {
            std::fprintf(stderr, "reply %d failed: %s\n", i + 1, error.c_str());
            return 1;
        }
    }
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    std::printf("seconds=%.3f peak_kb=%ld\n", seconds.count(), peakResidentKb());
    return 0;
}
