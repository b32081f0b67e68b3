#include "recorder-sim/sim_options.h"

#include <cstdlib>
#include <string_view>

#include "settings/text_routines.h"

namespace {

bool toInt(const std::string& text, int low, int high, int& value) {
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || v < low || v > high)
        return false;
    value = static_cast<int>(v);
    return true;
}

}  // namespace

std::vector<std::string> splitCommas(const std::string& list) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(',', start);
        if (end == std::string::npos)
            end = list.size();
        if (end > start)
            items.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

const char* simUsage() {
    return "Usage: recorder-sim --config DIR [--init] [--requests DIR] [options]\n"
           "\n"
           "A stand-in for the recorder program. It reads DIR/mornak.ini and the channel\n"
           "files it names, watches the request directory for request files RQ*.sy*, and\n"
           "answers each one: an event file <base>.<channel>.mqx for every requested\n"
           "channel or volume it records (IDs matched ignoring case), then the response\n"
           "file <request>.ack with the line \"ok N files\". Both appear whole (written\n"
           "under a hidden name, then renamed). Answered request files are removed.\n"
           "\n"
           "  --config DIR       the recorder's configuration directory (required)\n"
           "  --init             write a sample configuration into DIR: mornak.ini with\n"
           "                     100 samples per second, channels BHZ, BHN, BHE and the\n"
           "                     disabled volume ALL; without --requests, then exit\n"
           "  --system N         SYSTEMNUMBER of the sample configuration (default 1)\n"
           "  --requests DIR     the request directory to watch\n"
           "  --refuse REASON    answer \"bad REASON\" and cut no event file\n"
           "  --response LINE    answer with LINE instead of \"ok N files\"\n"
           "  --only CH,CH       cut only these of the requested channels\n"
           "  --delay-ms N       wait N ms after seeing a request before answering\n"
           "  --never            see request files but never answer them\n"
           "  --once             handle one request file, then exit\n"
           "  --keep-requests    leave answered request files where they are\n"
           "  --poll-ms N        look for request files every N ms (20 to 50, default 25)\n"
           "  --help             this text\n"
           "\n"
           "Exit status: 0 done, 1 bad arguments, 2 configuration or directory unusable.\n";
}

bool parseSimOptions(int argc, char** argv, SimOptions& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = std::string(arg) + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string text;
        if (arg == "--help") {
            options.help = true;
            return true;
        } else if (arg == "--init") {
            options.init = true;
        } else if (arg == "--never") {
            options.never = true;
        } else if (arg == "--once") {
            options.once = true;
        } else if (arg == "--keep-requests") {
            options.keepRequests = true;
        } else if (arg == "--config" || arg == "--requests") {
            if (!value(text))
                return false;
            addTrailingSlash(text);
            (arg == "--config" ? options.configDir : options.requestDir) = text;
        } else if (arg == "--refuse") {
            if (!value(options.refuseReason))
                return false;
            options.refuse = true;
        } else if (arg == "--response") {
            if (!value(options.responseLine))
                return false;
            options.customResponse = true;
        } else if (arg == "--only") {
            if (!value(text))
                return false;
            options.onlyChannels = splitCommas(text);
        } else if (arg == "--system" || arg == "--delay-ms" || arg == "--poll-ms") {
            if (!value(text))
                return false;
            int* target = arg == "--system"     ? &options.systemNumber
                          : arg == "--delay-ms" ? &options.delayMs
                                                : &options.pollMs;
            int low = arg == "--poll-ms" ? 20 : 0;
            int high = arg == "--poll-ms" ? 50 : 3'600'000;
            if (!toInt(text, low, high, *target)) {
                error = "bad value for " + std::string(arg) + ": " + text;
                return false;
            }
        } else {
            error = "unknown option: " + std::string(arg);
            return false;
        }
    }
    if (options.configDir.empty()) {
        error = "--config DIR is required";
        return false;
    }
    return true;
}
