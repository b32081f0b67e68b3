#include "spool/reading_note.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "activity/activity_log.h"
#include "spool/durable_file.h"

namespace {

constexpr const char* kReadingName = "reading";
constexpr const char* kStopsName = "stops";
constexpr const char* kReadingHeader = "tarnwick spool reading 1";
constexpr const char* kStopsHeader = "tarnwick spool stops 1";
constexpr int kStopsBeforeSetAside = 2;
constexpr std::size_t kMaxNoteBytes = 1 << 16;

bool isDigest(const std::string& text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The text of a small note file, a link never followed; "" when there is none.
std::string readNote(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return {};
    std::string text(kMaxNoteBytes, '\0');
    ssize_t n = ::read(fd, text.data(), text.size());
    ::close(fd);
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
}

}  // namespace

ReadingNote::ReadingNote(std::string spoolDir, ActivityLog& log)
    : dir_(std::move(spoolDir)), log_(log) {}

void ReadingNote::open() {
    std::istringstream stops(readNote(dir_ + kStopsName));
    std::string line, digest;
    int count = 0;
    if (std::getline(stops, line) && line == kStopsHeader)
        while (stops >> digest >> count)
            if (isDigest(digest) && count > 0)
                stops_[digest] = count;
    std::istringstream reading(readNote(dir_ + kReadingName));
    if (std::getline(reading, line) && line == kReadingHeader && std::getline(reading, digest) &&
        isDigest(digest)) {
        ++stops_[digest];
        saveStops();
    }
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (::unlink((dir_ + kReadingName).c_str()) == 0)
        syncDir(dir_);
}

int ReadingNote::stopsOf(const std::string& digest) const {
    auto found = stops_.find(digest);
    return found == stops_.end() ? 0 : found->second;
}

LineKeeper::Reading ReadingNote::start(std::string_view mail, const std::string& digest) {
    auto found = stops_.find(digest);
    if (found != stops_.end() && found->second >= kStopsBeforeSetAside) {
        if (!setAside(mail, digest))
            return LineKeeper::Reading::kLeave;
        stops_.erase(found);
        saveStops();
        return LineKeeper::Reading::kSetAside;
    }
    // The note must outlive a stop of the program, which the system's cache does; a power cut
    // is no sign of a poison mail, so the note costs no sync. It is one record written in place
    // in a file kept open, so a mail costs two writes and no change of the folder.
    if (!writeRecord(digest))
        log_.logMsg(true, "Spool Error: cannot write %s%s: %s", dir_.c_str(), kReadingName,
                    std::strerror(errno));
    reading_ = digest;
    return LineKeeper::Reading::kParse;
}

void ReadingNote::done() {
    if (reading_.empty())
        return;
    if (stops_.erase(reading_) != 0)
        saveStops();
    reading_.clear();
    writeRecord(std::string(64, '-'));  // no digest: no mail is being parsed
}

// The header and the digest (64 characters), always the same length, over the record before.
bool ReadingNote::writeRecord(const std::string& digest) {
    if (fd_ < 0)
        fd_ = ::open((dir_ + kReadingName).c_str(),
                     O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    std::string record = std::string(kReadingHeader) + "\n" + digest + "\n";
    return fd_ >= 0 &&
           ::pwrite(fd_, record.data(), record.size(), 0) == static_cast<ssize_t>(record.size());
}

ReadingNote::~ReadingNote() {
    if (fd_ < 0)
        return;
    ::close(fd_);
    if (reading_.empty())
        ::unlink((dir_ + kReadingName).c_str());
}

bool ReadingNote::setAside(std::string_view mail, const std::string& digest) {
    std::string folder = dir_ + "set-aside/";
    std::string error;
    if (!makePrivateDir(folder)) {
        log_.logMsg(true, "Spool Error: cannot use %s", folder.c_str());
        return false;
    }
    if (!writeDurably(folder, digest.substr(0, 16) + ".eml", std::string(mail), error)) {
        log_.logMsg(true, "Spool Error: %s", error.c_str());
        return false;
    }
    return true;
}

void ReadingNote::saveStops() {
    std::string text = std::string(kStopsHeader) + "\n";
    for (const auto& [digest, count] : stops_) text += digest + " " + std::to_string(count) + "\n";
    std::string error;
    if (stops_.empty()) {
        if (::unlink((dir_ + kStopsName).c_str()) == 0)
            syncDir(dir_);
    } else if (!writeDurably(dir_, kStopsName, text, error)) {
        log_.logMsg(true, "Spool Error: %s", error.c_str());
    }
}
