#include "spool/line_entries.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "spool/durable_file.h"
#include "spool/entry_text.h"

namespace {

constexpr const char* kOldLineHeader = "tarnwick spool line 1";  // one line a file
constexpr const char* kLinesHeader = "tarnwick spool lines 2";   // the lines of a check
constexpr const char* kDoneHeader = "tarnwick spool lines-done 1";
constexpr const char* kDoneLogName = "lines-done";
// An entry grows to about this size before the next one begins; it is read up to kMaxEntryBytes.
constexpr std::size_t kEntryBytes = 256 * 1024;

std::string reason(const char* what, const std::string& path) {
    return std::string(what) + " " + path + ": " + std::strerror(errno);
}

bool isEntryName(const std::string& name) {
    return !name.empty() && name.find_first_not_of("0123456789") == std::string::npos;
}

std::string lineFields(const CollectedLine& line) {
    return "text=" + oneLine(line.text) + "\nsender=" + oneLine(line.sender) +
           "\nmessage-id=" + oneLine(line.messageId) + "\nmail-key=" + oneLine(line.mailKey) +
           "\nmail=" + std::to_string(line.mail) + "\nof=" + std::to_string(line.linesOfMail) +
           "\n";
}

// Sets one field of a line; false for a key or value that is none of a line's.
bool setField(CollectedLine& line, const std::string& key, const std::string& value) {
    if (key == "text")
        line.text = value;
    else if (key == "sender")
        line.sender = value;
    else if (key == "message-id")
        line.messageId = value;
    else if (key == "mail-key")
        line.mailKey = value;
    else if (key == "mail")
        return parseCount(value, 0, 100000000, line.mail);
    else if (key == "of")
        return parseCount(value, 0, 100000000, line.linesOfMail);
    else
        return false;
    return true;
}

// An entry of either layout; each line begins with its text field. The entry of a check ends
// with "count=N".
bool parseEntry(const std::string& text, std::vector<CollectedLine>& lines) {
    std::vector<std::pair<std::string, std::string>> fields;
    bool old = text.starts_with(std::string(kOldLineHeader) + "\n");
    if (!splitFields(text, old ? kOldLineHeader : kLinesHeader, nullptr, fields, nullptr) ||
        fields.empty() || fields[0].first != "text")
        return false;
    int count = -1;
    for (const auto& [key, value] : fields) {
        if (count >= 0)
            return false;  // nothing follows the count
        if (key == "text")
            lines.emplace_back();
        if (!old && key == "count") {
            if (!parseCount(value, 1, 100000000, count))
                return false;
        } else if (!setField(lines.back(), key, value)) {
            return false;
        }
    }
    bool texts = std::none_of(lines.begin(), lines.end(),
                              [](const CollectedLine& line) { return line.text.empty(); });
    return texts && (old ? lines.size() == 1 : count == static_cast<int>(lines.size()));
}

// "NNN/k": the entry's name and the line's place, counted from 1.
bool splitId(const std::string& id, std::string& name, int& place) {
    std::size_t slash = id.find('/');
    if (slash == std::string::npos || !isEntryName(id.substr(0, slash)))
        return false;
    name = id.substr(0, slash);
    return parseCount(id.substr(slash + 1), 1, 100000000, place);
}

bool writeAll(int fd, const std::string& text) {
    std::size_t at = 0;
    while (at < text.size()) {
        ssize_t n = ::write(fd, text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

LineEntries::LineEntries(std::string spoolDir) : dir_(std::move(spoolDir)) {}

LineEntries::~LineEntries() {
    std::string ignored;
    syncMarks(ignored);
    if (doneFd_ >= 0)
        ::close(doneFd_);
}

std::uint64_t LineEntries::readDoneLog() {
    marksRead_.clear();
    std::string text;
    std::uint64_t highest = 0;
    if (!readEntry(dir_ + kDoneLogName, text))
        return 0;
    // A mark cut off by a power cut, or anything else that is no mark, is passed over.
    std::size_t at = 0;
    for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        std::string name;
        int place = 0;
        if (splitId(text.substr(at, end - at), name, place)) {
            marksRead_[name].insert(place);
            highest = std::max<std::uint64_t>(highest, std::strtoull(name.c_str(), nullptr, 10));
        }
    }
    return highest;
}

bool LineEntries::keep(std::vector<CollectedLine>& lines,
                       const std::function<std::string()>& nextId, std::string& error) {
    std::vector<std::pair<std::string, int>> written;  // name, lines
    std::string text;
    int count = 0;
    std::vector<CollectedLine*> pending;
    auto flush = [&]() {
        if (count == 0)
            return true;
        std::string name = nextId();
        text = std::string(kLinesHeader) + "\n" + text + "count=" + std::to_string(count) + "\n";
        if (!writeSynced(dir_ + "lines/", name, text, error))
            return false;
        for (int i = 0; i < count; ++i)
            pending[static_cast<std::size_t>(i)]->spoolId = name + "/" + std::to_string(i + 1);
        written.emplace_back(name, count);
        text.clear();
        pending.clear();
        count = 0;
        return true;
    };
    bool ok = true;
    for (CollectedLine& line : lines) {
        if (!line.spoolId.empty())
            continue;
        text += lineFields(line);
        pending.push_back(&line);
        ++count;
        if (text.size() >= kEntryBytes && !(ok = flush()))
            break;
    }
    ok = ok && flush();
    if (ok && !syncDir(dir_ + "lines/")) {
        error = reason("cannot sync", dir_ + "lines/");
        ok = false;
    }
    if (!ok) {
        // None is kept: the session ends without QUIT and the mails are read again.
        for (const auto& [name, n] : written) ::unlink((dir_ + "lines/" + name).c_str());
        syncDir(dir_ + "lines/");
        for (CollectedLine& line : lines)
            if (line.spoolId.find('/') != std::string::npos &&
                std::any_of(written.begin(), written.end(), [&](const auto& w) {
                    return line.spoolId.starts_with(w.first + "/");
                }))
                line.spoolId.clear();
        return false;
    }
    for (const auto& [name, n] : written) entries_[name].lines = n;
    return true;
}

bool LineEntries::markDone(const std::string& spoolId, std::string& error) {
    std::string name;
    int place = 0;
    if (!splitId(spoolId, name, place))
        return removeDurably(dir_ + "lines/" + spoolId, error);  // the earlier layout
    auto found = entries_.find(name);
    if (found == entries_.end())
        return true;
    Entry& entry = found->second;
    entry.done.insert(place);
    if (static_cast<int>(entry.done.size()) < entry.lines)
        return appendMark(spoolId, error);
    if (!removeEntry(name, error)) {
        entry.done.erase(place);
        return false;
    }
    return true;
}

bool LineEntries::appendMark(const std::string& spoolId, std::string& error) {
    std::string path = dir_ + kDoneLogName;
    std::string text = spoolId + "\n";
    if (doneFd_ < 0) {
        doneFd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW,
                         0600);
        if (doneFd_ < 0) {
            error = reason("cannot write", path);
            return false;
        }
        logCreated_ = ::lseek(doneFd_, 0, SEEK_END) == 0;
        if (logCreated_)
            text = std::string(kDoneHeader) + "\n" + text;
    }
    if (!writeAll(doneFd_, text)) {
        error = reason("cannot write", path);
        return false;
    }
    marksUnsynced_ = true;
    return true;
}

bool LineEntries::syncMarks(std::string& error) {
    if (!marksUnsynced_ || doneFd_ < 0)
        return true;
    marksUnsynced_ = false;
    if (::fdatasync(doneFd_) != 0) {
        error = reason("cannot sync", dir_ + kDoneLogName);
        return false;
    }
    if (logCreated_ && !syncDir(dir_)) {
        error = reason("cannot sync", dir_);
        return false;
    }
    logCreated_ = false;
    return true;
}

bool LineEntries::removeEntry(const std::string& name, std::string& error) {
    if (!removeDurably(dir_ + "lines/" + name, error))
        return false;
    entries_.erase(name);
    if (entries_.empty())
        dropDoneLog();
    return true;
}

// No entry is left, so no mark names one. The removal needs no sync: a done-log that a power
// cut brings back names only entries numbered below every later one.
void LineEntries::dropDoneLog() {
    if (doneFd_ >= 0)
        ::close(doneFd_);
    doneFd_ = -1;
    marksUnsynced_ = false;
    logCreated_ = false;
    ::unlink((dir_ + kDoneLogName).c_str());
}

LineEntries::Loaded LineEntries::load() {
    Loaded loaded;
    entries_.clear();
    std::vector<std::string> names;
    if (DIR* d = ::opendir((dir_ + "lines/").c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        std::string path = dir_ + "lines/" + name;
        if (name[0] == '.') {
            std::string error;  // a temporary file of lines that were never kept
            if (!removeDurably(path, error))
                loaded.errors.push_back(error);
            continue;
        }
        std::string text;
        std::vector<CollectedLine> lines;
        if (!isEntryName(name) || !readEntry(path, text) || !parseEntry(text, lines)) {
            loaded.unreadable.push_back(name);
            continue;
        }
        bool old = text.starts_with(kOldLineHeader);
        std::set<int> marks;  // only the entry's own places count
        for (int place : marksRead_[name])
            if (place <= static_cast<int>(lines.size()))
                marks.insert(place);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            int place = static_cast<int>(i) + 1;
            lines[i].spoolId = old ? name : name + "/" + std::to_string(place);
            loaded.done.push_back(!old && marks.count(place) != 0);
            loaded.all.push_back(std::move(lines[i]));
        }
        if (!old)
            entries_[name] = Entry{static_cast<int>(lines.size()), marks};
    }
    return loaded;
}

bool LineEntries::anyEntryFinished() const {
    return std::any_of(entries_.begin(), entries_.end(), [](const auto& e) {
        return static_cast<int>(e.second.done.size()) >= e.second.lines;
    });
}

bool LineEntries::compact(std::string& error) {
    bool ok = true;
    std::vector<std::string> finished;
    for (const auto& [name, entry] : entries_)
        if (static_cast<int>(entry.done.size()) >= entry.lines)
            finished.push_back(name);
    for (const std::string& name : finished) ok = removeEntry(name, error) && ok;
    marksRead_.clear();
    std::string text = std::string(kDoneHeader) + "\n";
    bool anyMark = false;
    for (const auto& [name, entry] : entries_)
        for (int place : entry.done) {
            text += name + "/" + std::to_string(place) + "\n";
            anyMark = true;
        }
    if (!anyMark) {
        dropDoneLog();
        return ok;
    }
    if (doneFd_ >= 0)
        ::close(doneFd_);
    doneFd_ = -1;
    std::string written;
    if (!writeDurably(dir_, kDoneLogName, text, written)) {
        error = written;
        return false;
    }
    return ok;
}
