// recorder-sim: a stand-in for the recorder program, for tests and the demo. See --help.

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "recorder-sim/request_answerer.h"
#include "recorder-sim/sample_config.h"
#include "recorder-sim/sim_options.h"
#include "requests/recorder_config.h"

namespace {

// The request file names in dir, oldest name first. Returns false when dir cannot be read.
bool listRequestFiles(const std::string& dir, std::vector<std::string>& names) {
    names.clear();
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return false;
    while (dirent* entry = ::readdir(d))
        if (isRequestFileName(entry->d_name))
            names.emplace_back(entry->d_name);
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return true;
}

int watch(const SimOptions& options, const RecorderSystem& config) {
    std::set<std::string> handled;
    std::vector<std::string> names;
    for (;;) {
        if (!listRequestFiles(options.requestDir, names)) {
            std::fprintf(stderr, "recorder-sim: cannot read %s\n", options.requestDir.c_str());
            return 2;
        }
        for (const std::string& name : names) {
            if (!handled.insert(name).second)
                continue;
            std::printf("%s\n", answerRequest(options.requestDir + name, config, options).c_str());
            std::fflush(stdout);
            if (options.once)
                return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(options.pollMs));
    }
}

}  // namespace

int main(int argc, char** argv) {
    SimOptions options;
    std::string error;
    if (!parseSimOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "recorder-sim: %s\n%s", error.c_str(), simUsage());
        return 1;
    }
    if (options.help) {
        std::fputs(simUsage(), stdout);
        return 0;
    }
    if (options.init && !writeSampleConfig(options.configDir, options.systemNumber, error)) {
        std::fprintf(stderr, "recorder-sim: %s\n", error.c_str());
        return 2;
    }
    if (options.requestDir.empty()) {
        if (options.init)
            return 0;
        std::fprintf(stderr, "recorder-sim: --requests DIR is required to run\n%s", simUsage());
        return 1;
    }
    RecorderSystem config;
    if (!readRecorderIni(options.configDir, config)) {
        std::fprintf(stderr, "recorder-sim: cannot read %s%s\n", options.configDir.c_str(),
                     kRecorderIniName);
        return 2;
    }
    std::printf("recorder-sim: system %d, %d channels, watching %s\n", config.systemNumber,
                usedChannelSlots(config), options.requestDir.c_str());
    std::fflush(stdout);
    return watch(options, config);
}
