#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// The bytes of the event file that recorder-sim cuts for one channel of a request: a text
// header naming the channel and the window, then 4096 bytes of samples from a generator
// seeded by the header. The content depends only on these arguments (the channel ID as the
// request gives it, and the items of the request file's REQ line), so a test can recompute
// the expected file with this same function.
inline std::string eventFileContent(const std::string& channelId, int month, int day, int year,
                                    int hour, int minute, int length, int decimation) {
    char header[256];
    std::snprintf(header, sizeof header,
                  "RECORDER-SIM EVENT FILE\nchannel=%s\nstart=%d/%d/%d %02d:%02d\n"
                  "length=%d\ndecimation=%d\n\n",
                  channelId.c_str(), month, day, year, hour, minute, length, decimation);
    std::string content(header);
    std::uint32_t state = 2166136261u;  // FNV-1a of the header seeds the samples
    for (unsigned char c : content) state = (state ^ c) * 16777619u;
    for (int i = 0; i < 4096; ++i) {
        state = state * 1664525u + 1013904223u;
        content += static_cast<char>(state >> 24);
    }
    return content;
}
