#include "recorder-sim/request_answerer.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

#include "recorder-sim/event_content.h"
#include "requests/item_scanner.h"
#include "requests/recorder_config.h"
#include "requests/recorder_exchange.h"
#include "requests/request_lines.h"
#include "settings/text_routines.h"

namespace {

std::string firstLine(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::getline(in, line);
    stripLineEnd(line);
    return line;
}

bool contains(const std::vector<std::string>& ids, const std::string& id) {
    for (const std::string& candidate : ids)
        if (equalsIgnoreCase(candidate, id))
            return true;
    return false;
}

// A channel or volume of the configuration, and allowed by --only.
bool records(const std::string& id, const RecorderSystem& config, const SimOptions& options) {
    if (!isSafeChannelId(id))
        return false;
    if (!options.onlyChannels.empty() && !contains(options.onlyChannels, id))
        return false;
    if (isVolumeName(id, config))
        return true;
    for (int i = 0; i < usedChannelSlots(config); ++i)
        if (equalsIgnoreCase(id, config.channels[i].id.str()))
            return true;
    return false;
}

// Cuts the event files of the REQ line; returns how many were written.
int cutEventFiles(const RequestItems& req, const RecorderSystem& config,
                  const SimOptions& options) {
    int written = 0;
    const int* n = req.numbers;
    for (const std::string& id : splitCommas(req.channelList)) {
        if (!records(id, config, options))
            continue;
        std::string bytes = eventFileContent(id, n[0], n[1], n[2], n[3], n[4], n[5], n[6]);
        if (writeWhole(eventFileName(req.lastWord, id), bytes))
            ++written;
    }
    return written;
}

std::string baseName(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool isRequestFileName(const std::string& name) {
    return name.starts_with("RQ") && name.find(".sy") != std::string::npos &&
           !name.ends_with(".ack") && !name.ends_with(".tmp");
}

bool writeWhole(const std::string& path, const std::string& bytes) {
    std::size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string temp = dir + "." + baseName(path) + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << bytes;
        out.close();
        if (!out) {
            std::remove(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    return true;
}

std::string answerRequest(const std::string& path, const RecorderSystem& config,
                          const SimOptions& options) {
    const std::string name = baseName(path);
    if (options.never)
        return name + ": not answered (--never)";
    if (options.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(options.delayMs));
    std::string line = firstLine(path);
    RequestItems req;
    std::string response;
    if (!line.starts_with("REQ:") || scanRequestItems(std::string_view(line).substr(4), req) < 9)
        response = "bad unreadable request";
    else if (options.refuse)
        response = "bad " + options.refuseReason;
    else {
        int files = cutEventFiles(req, config, options);
        response = options.customResponse ? options.responseLine
                                          : "ok " + std::to_string(files) + " files";
    }
    // The request file is taken away before the answer appears, so a request that the
    // station writes under the same name once it has the answer is never removed unread.
    if (!options.keepRequests)
        std::remove(path.c_str());
    bool answered = writeWhole(responseFileName(path), response + "\n");
    return name + (answered ? ": " + response : ": cannot write the response file");
}
