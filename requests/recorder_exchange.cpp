#include "requests/recorder_exchange.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "activity/activity_log.h"
#include "mail/mail_job.h"
#include "requests/reply_header.h"
#include "requests/reply_sender.h"
#include "requests/request_context.h"
#include "requests/request_lines.h"
#include "settings/mailer_settings.h"
#include "settings/text_routines.h"

namespace {

// The longest file name the request record and a mail job can carry.
constexpr std::size_t kMaxFileNameChars = 255;

// Room for any of the short formats below with int arguments at their widest.
using NumberText = char[128];

// tempDir with its trailing '/', given to the setting itself as well (where it fits).
std::string tempDirWithSlash(MailerSettings& settings) {
    std::string dir = settings.tempDir.str();
    addTrailingSlash(dir);
    settings.tempDir = dir;
    return dir;
}

// Creates the file new: whatever lies at the name (a left-over, a link planted there) is
// removed, never followed or written through.
int createNew(const std::string& name) {
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
    int fd = ::open(name.c_str(), flags, 0644);
    if (fd < 0 && errno == EEXIST && ::unlink(name.c_str()) == 0)
        fd = ::open(name.c_str(), flags, 0644);
    return fd;
}

// Writes the line under a hidden temporary name beside finalName and renames it into place.
// Logs the failure entry and returns false when that cannot be done; no file is left then.
bool writeWhole(ActivityLog& log, const std::string& dir, const std::string& fileName,
                const std::string& line) {
    const std::string finalName = dir + fileName;
    const std::string tempName = dir + "." + fileName + ".tmp";
    int fd = createNew(tempName);
    if (fd < 0) {
        log.logMsg(true, "Can't create request file %s: %s", finalName.c_str(),
                   std::strerror(errno));
        return false;
    }
    ::fchmod(fd, 0644);
    std::FILE* stream = ::fdopen(fd, "w");
    if (!stream) {
        log.logMsg(true, "Can't fdopen request file %s", finalName.c_str());
        ::close(fd);
        ::unlink(tempName.c_str());
        return false;
    }
    errno = 0;
    bool written = std::fputs(line.c_str(), stream) >= 0;
    written = std::fclose(stream) == 0 && written;
    if (!written || std::rename(tempName.c_str(), finalName.c_str()) != 0) {
        int error = errno;
        log.logMsg(true, "Can't create request file %s: %s", finalName.c_str(),
                   error ? std::strerror(error) : "not written whole");
        ::unlink(tempName.c_str());
        return false;
    }
    return true;
}

// Opens the file for reading, spending attempts from the shared budget; each failed attempt
// is followed by a pause. Returns nullptr when the budget ran out first.
std::FILE* openWithinBudget(const std::string& name, int& budget, Clock& clock) {
    while (budget > 0) {
        int fd = openRegularFile(name);
        if (std::FILE* file = fd >= 0 ? ::fdopen(fd, "r") : nullptr)
            return file;
        if (fd >= 0)
            ::close(fd);
        --budget;
        clock.sleepMs(kResponseOpenPauseMs);
    }
    return nullptr;
}

enum class Response { Accepted, Refused, Unreadable };

// Reads and deletes one response file and reports a refusal or an unreadable file.
// index 0 is the first system's response, whose entry puts the name in brackets.
Response readResponse(RequestContext& ctx, const std::string& name, int index, int& budget,
                      ReplySender& replies) {
    std::FILE* file = openWithinBudget(name, budget, ctx.clock);
    if (!file) {
        if (index == 0)
            ctx.log.logMsg(true, "Can't open response file [%s]", name.c_str());
        else
            ctx.log.logMsg(true, "Can't open response file %s", name.c_str());
        replies.sendErrorReport("Internal Process Error");
        return Response::Unreadable;
    }
    char buffer[80] = {};
    if (!std::fgets(buffer, sizeof buffer, file))
        buffer[0] = '\0';
    std::fclose(file);
    std::remove(name.c_str());
    std::string line(buffer);
    stripLineEnd(line);
    ctx.log.logMsg(false, "MORNAK Response: %s", line.c_str());
    line = toLowerAscii(line);
    if (line.starts_with("bad")) {
        replies.sendErrorReport("Mornak Response: " + line);
        return Response::Refused;
    }
    return Response::Accepted;
}

// Attaches the event file of every requested channel that lies in the temporary directory
// and marks its channel found. Returns the number attached.
int gatherEventFiles(RequestContext& ctx, EventFileRequest& request, MailJob& job) {
    // The base the recorder was told: a MapDrive letter names nothing on this system.
    std::string base = eventFileBase(tempDirWithSlash(ctx.settings), request);
    int count = request.channelCount < 0 ? 0 : request.channelCount;
    if (count > EventFileRequest::maxChannels)
        count = EventFileRequest::maxChannels;
    for (int i = 0; i < count && job.attachmentCount < MailJob::maxAttachments; ++i) {
        std::string id = request.channels[i].str();
        if (!isSafeChannelId(id))
            continue;
        std::string name = eventFileName(base, id);
        if (name.size() > kMaxFileNameChars || !fileExists(name))
            continue;
        job.attachments[job.attachmentCount++] = name;
        request.channelStatus[i] = kChannelFileFound;
    }
    return job.attachmentCount;
}

}  // namespace

std::string requestFileName(const std::string& dir, const LocalTime& time, int systemNumber) {
    NumberText text;
    std::snprintf(text, sizeof text, "RQ%02d%02d%02d%03d.sy%d", time.hour, time.minute, time.second,
                  time.millisecond, systemNumber);
    return dir + text;
}

std::string responseFileName(const std::string& requestFileName) {
    return requestFileName + ".ack";
}

std::string eventFileBase(const std::string& tempDir, const EventFileRequest& request) {
    NumberText text;
    std::snprintf(text, sizeof text, "%02d%02d%02d%02d%02d", request.year % 100, request.month,
                  request.day, request.hour, request.minute);
    return tempDir + text;
}

std::string eventFileName(const std::string& base, const std::string& channelId) {
    return base + "." + channelId + ".mqx";
}

int decimationFactor(int samplesPerSecond, int rate) {
    return rate > 0 && rate < samplesPerSecond ? samplesPerSecond / rate : 1;
}

std::string requestLine(const EventFileRequest& request, int decimation,
                        const std::string& channelList, const std::string& base) {
    NumberText text;
    std::snprintf(text, sizeof text, "REQ: %d %d %d %d %d %d %d ", request.month, request.day,
                  request.year, request.hour, request.minute, request.length, decimation);
    return text + channelList + " " + base + "\n";
}

void writeRequestFile(RequestContext& ctx, EventFileRequest& request,
                      const std::string& channelList, const std::string& requestDir,
                      int systemIndex) {
    const int index = systemIndex == 0 ? 0 : 1;
    const RecorderSystem& system =
        index == 0 ? ctx.settings.firstSystem : ctx.settings.secondSystem;
    const LocalTime now = ctx.clock.localTime();
    std::string dir = requestDir;
    addTrailingSlash(dir);
    const std::string base = eventFileBase(tempDirWithSlash(ctx.settings), request);
    const std::string name = requestFileName(dir, now, system.systemNumber);
    const std::string response = responseFileName(name);
    if (response.size() > kMaxFileNameChars) {
        // The names would not fit the request record: nothing is stored or written.
        ctx.log.logMsg(true, "Can't create request file %s: the name is too long", name.c_str());
        return;
    }
    request.requestFile = name;
    request.responseFiles[index] = response;
    const std::string line = requestLine(
        request, decimationFactor(system.samplesPerSecond, request.rate), channelList, base);
    writeWhole(ctx.log, dir, name.substr(dir.size()), line);
}

void processResponses(RequestContext& ctx, EventFileRequest& request, int bothSystems,
                      MailJob& eventFileJob, ReplySender& replies) {
    int budget = kResponseOpenAttempts;
    for (int index = 0; index < 2; ++index) {
        if (request.responseFiles[index].empty())
            continue;
        Response r = readResponse(ctx, request.responseFiles[index].str(), index, budget, replies);
        if (r != Response::Accepted && !bothSystems)
            return;
    }
    fillCommonHeader(eventFileJob, ctx.settings, request);
    if (gatherEventFiles(ctx, request, eventFileJob) == 0) {
        replies.sendErrorReport("No files to send");
        return;
    }
    replies.sendEventFiles(eventFileJob);
}

namespace {

// True for a name as the exchange gives a request file, or its response or temporary file.
bool isExchangeFileName(const std::string& name) {
    std::string core = name;
    if (core.size() > 5 && core[0] == '.' && core.compare(core.size() - 4, 4, ".tmp") == 0)
        core = core.substr(1, core.size() - 5);
    else if (core.size() > 4 && core.compare(core.size() - 4, 4, ".ack") == 0)
        core = core.substr(0, core.size() - 4);
    // "RQ" and nine digits, ".sy" and the system number.
    if (core.size() < 15 || core.compare(0, 2, "RQ") != 0 || core.compare(11, 3, ".sy") != 0)
        return false;
    auto digits = [&core](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i)
            if (core[i] < '0' || core[i] > '9')
                return false;
        return to > from;
    };
    return digits(2, 11) && digits(14, core.size());
}

}  // namespace

void removeAbandonedRequestFiles(const MailerSettings& settings) {
    for (const FixedText<256>* setting : {&settings.mornakReq, &settings.mornak2Req}) {
        std::string dir = setting->str();
        if (dir.empty())
            continue;
        addTrailingSlash(dir);
        DIR* d = ::opendir(dir.c_str());
        if (!d)
            continue;
        while (dirent* e = ::readdir(d)) {
            struct stat st;
            if (isExchangeFileName(e->d_name) &&
                ::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISREG(st.st_mode))
                ::unlinkat(::dirfd(d), e->d_name, 0);
        }
        ::closedir(d);
    }
}
