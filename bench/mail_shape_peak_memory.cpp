// Peak memory and time of reading one hostile mail shape (see mail_shapes.h), in a process of
// its own so that the peak is this shape's alone.
//
//   mail_shape_peak_memory SHAPE N
//
// Prints the mail's size, the peak resident memory before and after reading it, the time taken,
// and the bound the reading must keep: 64 MiB plus four times the mail's size.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_files.h"
#include "bench/mail_shapes.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: mail_shape_peak_memory parts|headers|html|line N\n");
        return 2;
    }
    std::string shape = argv[1];
    std::size_t n = std::strtoul(argv[2], nullptr, 10);
    long baseline = peakResidentKb();
    MessageBuffer buffer;
    if (!fillMailShape(shape, n, buffer)) {
        std::fprintf(stderr, "unknown shape %s\n", shape.c_str());
        return 2;
    }
    long filled = peakResidentKb();
    auto start = std::chrono::steady_clock::now();
    MailReading reading = readMail(buffer, true);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    long peak = peakResidentKb();
    double mailMb = static_cast<double>(buffer.size()) / (1 << 20);
    std::printf("%s %zu: mail %.1f MiB, peak RSS %.1f MiB (%.1f MiB at start, %.1f filled), "
                "bound %.1f MiB, %.2f s, %zu lines, cut: %s\n",
                shape.c_str(), n, mailMb, peak / 1024.0, baseline / 1024.0, filled / 1024.0,
                64 + 4 * mailMb, seconds, reading.requestLines.size(),
                reading.cut.empty() ? "none" : reading.cut.c_str());
    return peak / 1024.0 <= 64 + 4 * mailMb ? 0 : 1;
}
