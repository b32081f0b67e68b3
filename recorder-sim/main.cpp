// recorder-sim: a stand-in for the recorder program, for tests and the demo. See --help.

#include <dirent.h>
#include <sys/stat.h>

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

// One request file as it lies in the directory. A file put there under a name that was used
// before (request files are named by the time of day) is a new file with its own identity.
struct RequestFile {
    std::string name;
    std::string identity;  // name, inode and modification time
};

// The request files in dir, oldest name first. Returns false when dir cannot be read.
bool listRequestFiles(const std::string& dir, std::vector<RequestFile>& files) {
    files.clear();
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return false;
    while (dirent* entry = ::readdir(d)) {
        struct stat st {};
        if (!isRequestFileName(entry->d_name) || ::stat((dir + entry->d_name).c_str(), &st) != 0)
            continue;
        std::string identity = std::string(entry->d_name) + ":" + std::to_string(st.st_ino) + ":" +
                               std::to_string(st.st_mtim.tv_sec) + "." +
                               std::to_string(st.st_mtim.tv_nsec);
        files.push_back({entry->d_name, identity});
    }
    ::closedir(d);
    std::sort(files.begin(), files.end(),
              [](const RequestFile& a, const RequestFile& b) { return a.name < b.name; });
    return true;
}

// Answers each request file once. What was answered is remembered only while its file lies
// in the directory (--keep-requests, --never); a new file under an old name is answered too.
int watch(const SimOptions& options, const RecorderSystem& config) {
    std::set<std::string> handled;
    std::vector<RequestFile> files;
    for (;;) {
        if (!listRequestFiles(options.requestDir, files)) {
            std::fprintf(stderr, "recorder-sim: cannot read %s\n", options.requestDir.c_str());
            return 2;
        }
        std::set<std::string> present;
        for (const RequestFile& file : files) present.insert(file.identity);
        std::erase_if(handled, [&present](const std::string& id) { return !present.contains(id); });
        for (const RequestFile& file : files) {
            if (!handled.insert(file.identity).second)
                continue;
            std::printf("%s\n",
                        answerRequest(options.requestDir + file.name, config, options).c_str());
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
