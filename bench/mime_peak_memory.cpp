// Peak memory of composing a message with one large attachment, in a process of its own.
//
//   mime_peak_memory [MEGABYTES]     (default 100)
//
// Prints the file size, the peak resident memory and their ratio.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_files.h"
#include "mail/mime_composer.h"

int main(int argc, char** argv) {
    std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    std::size_t fileBytes = megabytes * 1000 * 1000;
    std::string path = "/tmp/tarnwick-mime-peak-" + std::to_string(getpid()) + ".mqx";
    if (!writeRandomFile(path, fileBytes)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    long before = peakResidentKb();
    SystemClock clock;
    MailJob job = eventFileReply(path);
    std::string text, error;
    int ok = MakeMimeMsg(clock, job, text, error);
    long peak = peakResidentKb();
    unlink(path.c_str());
    if (!ok) {
        std::fprintf(stderr, "MakeMimeMsg failed: %s\n", error.c_str());
        return 1;
    }
    double fileKb = static_cast<double>(fileBytes) / 1024.0;
    std::printf("file %zu bytes, message %zu bytes\n", fileBytes, text.size());
    std::printf("peak RSS before composing %ld kB, after %ld kB\n", before, peak);
    std::printf("peak RSS / file size = %.3f\n", static_cast<double>(peak) / fileKb);
    return 0;
}
