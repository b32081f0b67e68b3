#include "spool/spool.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <tuple>

#include "activity/activity_log.h"
#include "settings/mailer_settings.h"
#include "spool/durable_file.h"
#include "spool/entry_text.h"

namespace {

constexpr const char* kJobHeader = "tarnwick spool job 1";
constexpr const char* kTakenHeader = "tarnwick spool taken 1";
constexpr const char* kTakenName = "taken";
constexpr const char* kBodyMark = "body:";

std::string baseName(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isEntryName(const std::string& name) {
    return !name.empty() && name.find_first_not_of("0123456789") == std::string::npos;
}

// A queued reply's folder is a real folder of the robot's user, and each of its event files a
// regular file in it: a link there could make the robot mail any file it can read.
bool jobFolderIsSound(const std::string& folder, const MailJob& job) {
    struct stat st;
    if (::lstat(folder.substr(0, folder.size() - 1).c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid())
        return false;
    for (int i = 0; i < job.attachmentCount; ++i) {
        const std::string path = job.attachments[i].str();
        if (dirOf(path) != folder || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return false;
    }
    return true;
}

std::string reason(const char* what, const std::string& path) {
    return std::string(what) + " " + path + ": " + std::strerror(errno);
}

// Whether the path names a folder (never through a link).
bool isFolder(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The fields in which the job files of earlier versions kept the SMTP account.
bool isOldAccountField(const std::string& key) {
    return key == "smtp-server" || key == "smtp-auth" || key == "smtp-user" ||
           key == "smtp-password";
}

}  // namespace

std::string jobText(const MailJob& job) {
    std::string text = std::string(kJobHeader) + "\n";
    auto field = [&text](const char* key, const std::string& value) {
        text += key;
        text += '=';
        text += oneLine(value);
        text += '\n';
    };
    field("to", job.to.str());
    field("from", job.from.str());
    field("subject", job.subject.str());
    field("in-reply-to", job.inReplyTo.str());
    field("tries", std::to_string(job.tries));
    for (int i = 0; i < job.attachmentCount && i < MailJob::maxAttachments; ++i)
        field("attachment", baseName(job.attachments[i].str()));
    text += kBodyMark;
    text += '\n';
    text += job.body.view();
    return text;
}

bool parseJob(const std::string& text, const std::string& folder, MailJob& job,
              bool* heldAccount) {
    std::vector<std::pair<std::string, std::string>> fields;
    std::string body;
    if (!splitFields(text, kJobHeader, kBodyMark, fields, &body))
        return false;
    job = MailJob{};
    for (auto& [key, value] : fields) {
        if (key == "to") {
            job.to = value;
        } else if (key == "from") {
            job.from = value;
        } else if (isOldAccountField(key)) {
            if (heldAccount)
                *heldAccount = true;  // an older spool's: the settings in force say it now
        } else if (key == "subject") {
            job.subject = value;
        } else if (key == "in-reply-to") {
            job.inReplyTo = value;
        } else if (key == "tries") {
            if (!parseCount(value, 0, 1000, job.tries))
                return false;
        } else if (key == "attachment") {
            if (job.attachmentCount >= MailJob::maxAttachments || value.empty() ||
                value.find('/') != std::string::npos || value[0] == '.')
                return false;
            job.attachments[job.attachmentCount++] = folder + value;
        } else {
            return false;
        }
    }
    job.body = body;
    return !job.to.empty();
}

Spool::Spool(std::string configDir, ActivityLog& log)
    : dir_(std::move(configDir) + "spool/"),
      log_(log),
      readingNote_(dir_, log),
      lineEntries_(dir_) {}

bool Spool::open() {
    failures_ = 0;
    usable_ = makePrivateDir(dir_);
    for (const char* folder : {"lines/", "queue/", "undelivered/", "bad/"})
        usable_ = usable_ && makePrivateDir(dir_ + folder);
    if (!usable_) {
        log_.logMsg(true, "Spool Error: cannot use %s", dir_.c_str());
        return false;
    }
    for (const char* folder : {"lines/", "queue/", "undelivered/"})
        for (const std::string& name : entries(folder))
            lastId_ = std::max<std::uint64_t>(lastId_, std::strtoull(name.c_str(), nullptr, 10));
    lastId_ = std::max(lastId_, lineEntries_.readDoneLog());
    readingNote_.open();
    return true;
}

LineKeeper::Reading Spool::startReading(std::string_view mail, const std::string& digest) {
    return usable_ ? readingNote_.start(mail, digest) : Reading::kParse;
}

void Spool::readingDone() {
    if (usable_)
        readingNote_.done();
}

bool Spool::wasTaken(const std::string& mailKey) {
    return taken_.count(oneLine(mailKey)) != 0;
}

void Spool::fail(const std::string& error) {
    ++failures_;
    log_.logMsg(true, "Spool Error: %s", error.c_str());
}

// The file goes whether or not this run wrote it: one left by the run before names mails the
// server has now deleted.
void Spool::mailboxCommitted() {
    taken_.clear();
    takenSaved_ = false;
    std::string path = dir_ + kTakenName;
    std::string error;
    bool there = ::access(path.c_str(), F_OK) == 0 || errno != ENOENT;
    if (usable_ && there && !removeDurably(path, error))
        fail(error);
}

// A taken mail's lines leave the spool as they are done; the file keeps knowing the mail until
// the server is seen to delete it. A file that cannot be written costs at most a second reply.
void Spool::saveTaken() {
    std::string text = std::string(kTakenHeader) + "\n";
    for (const std::string& id : taken_) text += id + "\n";
    std::string error;
    if (writeDurably(dir_, kTakenName, text, error))
        takenSaved_ = true;
    else
        fail(error);
}

void Spool::loadTaken() {
    std::string path = dir_ + kTakenName;
    if (::access(path.c_str(), F_OK) != 0)
        return;
    std::string text;
    if (!readEntry(path, text) || text.rfind(std::string(kTakenHeader) + "\n", 0) != 0 ||
        text.back() != '\n') {
        moveToBad(path, kTakenName);
        return;
    }
    std::size_t at = text.find('\n') + 1;
    for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        if (end > at)
            taken_.insert(text.substr(at, end - at));
    takenSaved_ = true;
}

std::vector<std::string> Spool::entries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* d = ::opendir((dir_ + folder).c_str());
    if (!d)
        return names;
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::string Spool::nextId() {
    char id[32];
    std::snprintf(id, sizeof id, "%012" PRIu64, ++lastId_);
    return id;
}

void Spool::moveToBad(const std::string& path, const std::string& name) {
    std::string target = dir_ + "bad/" + name;
    for (int n = 1; ::access(target.c_str(), F_OK) == 0; ++n)
        target = dir_ + "bad/" + name + "." + std::to_string(n);
    if (::rename(path.c_str(), target.c_str()) == 0) {
        // Its age in bad/ counts from now.
        ::utimensat(AT_FDCWD, target.c_str(), nullptr, AT_SYMLINK_NOFOLLOW);
        if (!syncDir(dir_ + "bad/") || !syncDir(dirOf(path)))
            fail(reason("cannot sync", dirOf(path)));
        log_.logMsg(true, "Spool entry %s cannot be read: moved to %s", path.c_str(),
                    target.c_str());
    } else {
        ++failures_;
        log_.logMsg(true, "Spool entry %s cannot be read", path.c_str());
    }
}

bool Spool::keepLines(std::vector<CollectedLine>& lines) {
    if (!usable_)
        return false;
    std::string error;
    if (!lineEntries_.keep(lines, [this] { return nextId(); }, error)) {
        fail(error);
        return false;
    }
    // Only once the lines are on the disk: a mail named here is not read for lines again.
    for (const CollectedLine& line : lines)
        if (!line.mailKey.empty() && taken_.insert(oneLine(line.mailKey)).second)
            takenSaved_ = false;
    return true;
}

bool Spool::removeLine(const std::string& id) {
    if (id.empty() || !usable_)
        return true;
    if (!taken_.empty() && !takenSaved_)
        saveTaken();
    std::string error;
    if (lineEntries_.markDone(id, error))
        return true;
    fail(error);
    return false;
}

void Spool::syncDoneMarks() {
    std::string error;
    if (usable_ && !lineEntries_.syncMarks(error))
        fail(error);
}

std::vector<CollectedLine> Spool::loadLines() {
    std::vector<CollectedLine> lines;
    if (!usable_)
        return lines;
    LineEntries::Loaded loaded = lineEntries_.load();
    for (const std::string& error : loaded.errors) fail(error);
    for (const std::string& name : loaded.unreadable)
        moveToBad(dir_ + "lines/" + name, "line-" + name);
    loadTaken();
    // A line done still counts: its mail was kept whole.
    markWholeMailsTaken(loaded.all);
    compactLineEntries();
    for (std::size_t i = 0; i < loaded.all.size(); ++i)
        if (!loaded.done[i])
            lines.push_back(std::move(loaded.all[i]));
    return lines;
}

// Entries whose lines are all done go, and the done-log keeps the marks of the others only; a
// mail they took is written down first, as for any line that leaves.
void Spool::compactLineEntries() {
    if (lineEntries_.anyEntryFinished() && !taken_.empty() && !takenSaved_)
        saveTaken();
    std::string error;
    if (!lineEntries_.compact(error))
        fail(error);
}

// The run that kept these lines may have stopped before the server deleted their mails. A mail
// all of whose lines are here is taken; one whose lines were cut off by the stop is not, so the
// next check reads it again rather than lose a line.
void Spool::markWholeMailsTaken(const std::vector<CollectedLine>& lines) {
    std::map<std::tuple<std::string, int, int>, int> found;
    for (const CollectedLine& line : lines)
        if (!line.mailKey.empty() && line.linesOfMail > 0)
            ++found[{oneLine(line.mailKey), line.mail, line.linesOfMail}];
    for (const auto& [mail, count] : found)
        if (count == std::get<2>(mail) && taken_.insert(std::get<0>(mail)).second)
            takenSaved_ = false;
}

std::string Spool::keepJob(MailJob& job, std::string& error) {
    if (!usable_) {
        error = "cannot use " + dir_;
        return {};
    }
    std::string id = nextId();
    std::string building = dir_ + "queue/." + id + "/";
    std::string folder = dir_ + "queue/" + id + "/";
    if (::mkdir(building.c_str(), 0700) != 0) {
        error = reason("cannot create", building);
        return {};
    }
    MailJob kept = job;
    int count = std::min(job.attachmentCount, MailJob::maxAttachments);
    int moved = 0;
    bool ok = true;
    for (; ok && moved < count; ++moved) {
        std::string name = baseName(job.attachments[moved].str());
        ok = moveDurably(job.attachments[moved].str(), building + name, error);
        kept.attachments[moved] = folder + name;
        if (!ok)
            break;
    }
    if (ok)
        ok = writeDurably(building, "job", jobText(kept), error);
    if (ok && ::rename(building.c_str(), folder.c_str()) != 0) {
        error = reason("cannot rename", building);
        ok = false;
    }
    if (ok && !syncDir(dir_ + "queue/")) {
        // The job may or may not be on the disk: it stays, and its line stays too, so the
        // request may be answered twice but never lost.
        error = reason("cannot sync", dir_ + "queue/");
        ::rename(folder.c_str(), building.c_str());
        ok = false;
    }
    if (!ok) {
        // The files go back where they were, so the caller has them as before. Their request
        // is still in the spool, so nothing here needs to reach the disk; a folder left behind
        // is removed at the next start.
        for (int i = 0; i < moved; ++i) {
            std::string name = baseName(job.attachments[i].str());
            std::string ignored;
            if (::rename((building + name).c_str(), job.attachments[i].c_str()) != 0)
                moveDurably(building + name, job.attachments[i].str(), ignored);
        }
        std::string ignored;
        if (!removeTreeDurably(building, ignored))
            ::rmdir(building.c_str());
        return {};
    }
    job = kept;
    return id;
}

bool Spool::saveJob(const std::string& id, const MailJob& job) {
    std::string error;
    if (id.empty() || !usable_)
        return false;
    if (!writeDurably(dir_ + "queue/" + id + "/", "job", jobText(job), error)) {
        fail(error);
        return false;
    }
    return true;
}

bool Spool::removeJob(const std::string& id) {
    if (id.empty() || !usable_)
        return true;
    std::string folder = dir_ + "queue/" + id + "/";
    std::string error;
    // Without its job file the folder is a removal under way, never a reply to send again.
    if (removeDurably(folder + "job", error) && removeTreeDurably(folder, error))
        return true;
    fail(error);
    return false;
}

void Spool::keepUndelivered(const std::string& id, const MailJob& job) {
    if (id.empty() || !usable_)
        return;
    if (job.attachmentCount == 0) {
        removeJob(id);
        return;
    }
    std::string folder = dir_ + "queue/" + id + "/";
    std::string target = dir_ + "undelivered/" + id + "/";
    std::string error;
    if (::rename(folder.c_str(), target.c_str()) != 0) {
        fail(reason("cannot move", folder));
        return;
    }
    if (!syncDir(dir_ + "undelivered/") || !syncDir(dir_ + "queue/"))
        fail(reason("cannot sync", dir_ + "queue/"));
    // The job file goes; the folder's age counts from now.
    if (!removeDurably(target + "job", error))
        fail(error);
    log_.logMsg(true, "Reply to %s not delivered: its files are in %s", job.to.c_str(),
                target.c_str());
}

std::vector<std::pair<std::string, MailJob>> Spool::loadJobs() {
    std::vector<std::pair<std::string, MailJob>> jobs;
    if (!usable_)
        return jobs;
    for (const std::string& name : entries("queue/")) {
        std::string folder = dir_ + "queue/" + name + "/";
        std::string text;
        MailJob job;
        bool building = name[0] == '.' && isEntryName(name.substr(1));
        bool removing = isEntryName(name) && isFolder(folder) &&
                        ::access((folder + "job").c_str(), F_OK) != 0 && errno == ENOENT;
        if ((building || removing) && isFolder(folder)) {
            std::string error;
            if (!removeTreeDurably(folder, error))
                fail(error);
            continue;
        }
        bool heldAccount = false;
        if (!isEntryName(name) || !jobFolderIsSound(folder, MailJob{}) ||
            !readEntry(folder + "job", text) || !parseJob(text, folder, job, &heldAccount) ||
            !jobFolderIsSound(folder, job)) {
            moveToBad(dir_ + "queue/" + name, "job-" + name);
            continue;
        }
        if (heldAccount)
            saveJob(name, job);
        jobs.emplace_back(name, job);
    }
    return jobs;
}

void Spool::removeOldEntries(std::int64_t now, int keepDays) {
    if (!usable_ || keepDays <= 0)
        return;
    const std::int64_t limit = now - static_cast<std::int64_t>(keepDays) * 86400;
    for (const char* folder : {"bad/", "undelivered/", "set-aside/"}) {
        for (const std::string& name : entries(folder)) {
            std::string path = dir_ + folder + name;
            struct stat st;
            if (::lstat(path.c_str(), &st) != 0 || st.st_mtime >= limit)
                continue;
            std::string error;
            bool removed = S_ISDIR(st.st_mode) ? removeTreeDurably(path + "/", error)
                                               : removeDurably(path, error);
            if (!removed) {
                fail(error);
                continue;
            }
            log_.logMsg(true, "Spool entry %s removed: older than %d days", path.c_str(),
                        keepDays);
        }
    }
}
