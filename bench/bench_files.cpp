#include "bench/bench_files.h"

#include <cstdio>
#include <vector>

bool writeRandomFile(const std::string& path, std::size_t n) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::vector<unsigned char> block(1 << 20);
    unsigned state = 88172645u;
    for (std::size_t done = 0; done < n;) {
        std::size_t part = n - done < block.size() ? n - done : block.size();
        for (std::size_t i = 0; i < part; ++i) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            block[i] = static_cast<unsigned char>(state);
        }
        if (std::fwrite(block.data(), 1, part, f) != part) {
            std::fclose(f);
            return false;
        }
        done += part;
    }
    return std::fclose(f) == 0;
}

MailJob eventFileReply(const std::string& path) {
    MailJob job;
    job.to = "ann@example.org";
    job.from = "Station ANMO <robot@anmo.example.org>";
    job.subject = "Your Event File";
    job.body = "Your event file is attached.\r\n";
    job.attachments[0] = path;
    job.attachmentCount = 1;
    return job;
}
