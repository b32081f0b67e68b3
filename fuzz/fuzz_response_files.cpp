// The recorder's answers: the response (.ack) files of one or two systems and whatever lies in
// the temporary directory, read by processResponses.
//
// Input: records cut at 0x1e.
//   [0], [1]  the first and second system's response: a kind byte, then the content. Kinds:
//             'f' a regular file, 'p' a FIFO, 'l' a link to a file outside the temporary
//             directory, 'd' a directory, 'n' nothing at the name, '-' the system was not asked;
//             any other first byte: a regular file with the whole record as content. A missing
//             [1] means the second system was not asked.
//   [2]       the request: a first line "month day year hour minute" (missing numbers keep
//             2 18 2003 14 30), then one channel ID a line (at most 16, each cut to 15 bytes).
//   [3]...    things put into the temporary directory before the answer is read: a kind byte
//             ('f', 'p', 'l', 'd', or 'L' a link to a regular file inside it) and then either
//             "#N" for the event file of the request's channel N (0 to 9) or a name below the
//             directory (its folders are made; ".." is not allowed), and for 'f' an optional
//             "\n" and content.
//
// Oracle (against a reference of the documented exchange, written here):
// - every attachment of the reply is a regular file, not a link, directly inside the temporary
//   directory, named "<base>.<channel>.mqx" for a requested channel whose ID holds no '/', '\\'
//   or "..", and that channel is marked found; the attachments are exactly the reference's;
// - the error reports are exactly the reference's: "Internal Process Error" for a response
//   that cannot be opened (three opening attempts shared by both), "Mornak Response: <line>"
//   for a refusal, "No files to send"; with one system asked, nothing after its failure;
// - a response file that was read is deleted; the file outside the directory is never read.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "activity/activity_log.h"
#include "fuzz/fuzz_support.h"
#include "mail/mail_job.h"
#include "requests/recorder_exchange.h"
#include "requests/reply_sender.h"
#include "requests/request_context.h"
#include "settings/mailer_settings.h"
#include "testing/fake_clock.h"

namespace {

constexpr const char* kSecretLine = "SECRET OUTSIDE THE TEMPORARY DIRECTORY";

struct RecordingReplies final : ReplySender {
    void sendErrorReport(const std::string& errorText) override { errors.push_back(errorText); }
    void sendEventFiles(MailJob& job) override {
        // What the composer will open, looked at now, before anything else changes.
        for (int i = 0; i < job.attachmentCount && i < MailJob::maxAttachments; ++i)
            regularAtSend.push_back(fuzz::isRegularFile(job.attachments[i].str()));
        jobs.push_back(job);
    }
    std::vector<std::string> errors;
    std::vector<MailJob> jobs;
    std::vector<bool> regularAtSend;
};

enum class Kind { Regular, Fifo, OutsideLink, InsideLink, Directory, Nothing, NotAsked };

Kind kindOf(char c) {
    switch (c) {
        case 'f': return Kind::Regular;
        case 'p': return Kind::Fifo;
        case 'l': return Kind::OutsideLink;
        case 'L': return Kind::InsideLink;
        case 'd': return Kind::Directory;
        case 'n': return Kind::Nothing;
        case '-': return Kind::NotAsked;
        default: return Kind::Regular;
    }
}

// Puts the thing at the path; false when it could not be made (a name too long, something
// already there).
bool plant(const std::string& path, Kind kind, std::string_view content,
           const std::string& secret, const std::string& insideTarget) {
    switch (kind) {
        case Kind::Regular: {
            // Only where nothing is yet: never through a link, never waiting on a FIFO.
            int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK, 0600);
            if (fd < 0)
                return false;
            bool ok = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
            ::close(fd);
            return ok;
        }
        case Kind::Fifo:
            return ::mkfifo(path.c_str(), 0600) == 0;
        case Kind::OutsideLink:
            return ::symlink(secret.c_str(), path.c_str()) == 0;
        case Kind::InsideLink:
            return ::symlink(insideTarget.c_str(), path.c_str()) == 0;
        case Kind::Directory:
            return ::mkdir(path.c_str(), 0700) == 0;
        default:
            return true;
    }
}

// Makes the folders of a relative name below root; false for ".." or an absolute name.
bool makeParents(const std::string& root, const std::string& name) {
    if (name.empty() || name[0] == '/' || name.find('\0') != std::string::npos)
        return false;
    std::size_t start = 0;
    for (;;) {
        std::size_t slash = name.find('/', start);
        std::string component = name.substr(start, slash == std::string::npos ? slash : slash - start);
        if (component == "..")
            return false;
        if (slash == std::string::npos)
            return true;
        ::mkdir((root + name.substr(0, slash)).c_str(), 0700);
        start = slash + 1;
    }
}

bool safeId(const std::string& id) {
    return id.find('/') == std::string::npos && id.find('\\') == std::string::npos &&
           id.find("..") == std::string::npos;
}

std::string lowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The first line of a response as one read of 80 bytes gives it, without its line end.
std::string firstLine(std::string_view content) {
    std::size_t n = std::min<std::size_t>(content.size(), 79);
    std::size_t lf = content.substr(0, n).find('\n');
    if (lf != std::string_view::npos)
        n = lf + 1;
    std::string_view line = content.substr(0, n);
    line = line.substr(0, line.find('\0'));
    line = line.substr(0, line.find('\n'));
    line = line.substr(0, line.find('\r'));
    return std::string(line);
}

std::string listOf(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) text += "[" + fuzz::visible(item) + "] ";
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> records =
        fuzz::splitRecords(std::string_view(reinterpret_cast<const char*>(data), size));
    fuzz::ScratchDir dir;
    const std::string tmp = dir.file("tmp/");
    const std::string secret = dir.file("secret.mqx");
    fuzz::makeDir(tmp);
    fuzz::makeDir(dir.file("req1"));
    fuzz::makeDir(dir.file("req2"));
    fuzz::writeBytes(secret, std::string(kSecretLine) + "\n");
    const std::string insideTarget = tmp + "inside.dat";
    fuzz::writeBytes(insideTarget, "bad inside\n");

    // The request.
    EventFileRequest request;
    request.month = 2;
    request.day = 18;
    request.year = 2003;
    request.hour = 14;
    request.minute = 30;
    request.length = 5;
    request.rate = 20;
    request.replyTo = "a@b.example";
    std::vector<std::string> requestLines =
        fuzz::splitLines(records.size() > 2 ? std::string_view(records[2]) : std::string_view());
    if (!requestLines.empty()) {
        int* fields[] = {&request.month, &request.day, &request.year, &request.hour, &request.minute};
        const char* p = requestLines[0].c_str();
        for (int* field : fields) {
            char* end = nullptr;
            long value = std::strtol(p, &end, 10);
            if (end == p)
                break;
            *field = static_cast<int>(std::clamp<long>(value, -999999, 999999));
            p = end;
        }
    }
    for (std::size_t i = 1; i < requestLines.size() && request.channelCount < 16; ++i)
        request.channels[request.channelCount++] = std::string_view(requestLines[i]).substr(0, 15);

    char number[64];
    std::snprintf(number, sizeof number, "%02d%02d%02d%02d%02d", request.year % 100, request.month,
                  request.day, request.hour, request.minute);
    const std::string base = tmp + number;

    // The things in the temporary directory.
    for (std::size_t r = 3; r < records.size() && r < 40; ++r) {
        std::string_view record = records[r];
        if (record.size() < 2)
            continue;
        Kind kind = kindOf(record[0]);
        if (kind == Kind::Nothing || kind == Kind::NotAsked)
            continue;
        std::string_view rest = record.substr(1);
        std::size_t lf = rest.find('\n');
        std::string name(rest.substr(0, lf));
        std::string_view content = lf == std::string_view::npos ? "" : rest.substr(lf + 1);
        if (name.size() == 2 && name[0] == '#') {
            int index = name[1] - '0';
            if (index < 0 || index >= request.channelCount)
                continue;
            name = (std::string(number) + "." + request.channels[index].str() + ".mqx");
        }
        if (name.size() > 200 || !makeParents(tmp, name))
            continue;
        plant(tmp + name, kind, content, secret, insideTarget);
    }

    // The responses.
    const std::string responseNames[2] = {dir.file("req1/RQ070509042.sy1.ack"),
                                          dir.file("req2/RQ070509042.sy2.ack")};
    Kind responseKinds[2] = {Kind::NotAsked, Kind::NotAsked};
    std::string responseContents[2];
    for (int i = 0; i < 2; ++i) {
        if (static_cast<std::size_t>(i) >= records.size() || (i == 1 && records[1].empty()))
            continue;
        const std::string& record = records[static_cast<std::size_t>(i)];
        char first = record.empty() ? 'f' : record[0];
        bool kindByte = std::strchr("fpldn-", first) != nullptr && !record.empty();
        responseKinds[i] = kindByte ? kindOf(first) : Kind::Regular;
        responseContents[i] = kindByte ? record.substr(1) : record;
        if (responseKinds[i] == Kind::NotAsked)
            continue;
        request.responseFiles[i] = responseNames[i];
        plant(responseNames[i], responseKinds[i], responseContents[i], secret, insideTarget);
    }
    const int bothSystems = !request.responseFiles[0].empty() && !request.responseFiles[1].empty();

    // The reference: error reports and attachments.
    std::vector<std::string> expectedErrors;
    std::vector<std::string> expectedAttachments;
    bool expectReply = true;
    bool readAndDeleted[2] = {false, false};
    int budget = 3;
    for (int i = 0; i < 2 && expectReply; ++i) {
        if (responseKinds[i] == Kind::NotAsked)
            continue;
        bool accepted = false;
        if (budget > 0 && responseKinds[i] == Kind::Regular) {
            readAndDeleted[i] = true;
            std::string line = lowerAscii(firstLine(responseContents[i]));
            if (line.compare(0, 3, "bad") == 0)
                expectedErrors.push_back("Mornak Response: " + line);
            else
                accepted = true;
        } else {
            budget = 0;
            expectedErrors.push_back("Internal Process Error");
        }
        if (!accepted && !bothSystems)
            expectReply = false;
    }
    if (expectReply) {
        for (int i = 0; i < request.channelCount && expectedAttachments.size() < 16; ++i) {
            std::string id = request.channels[i].str();
            std::string name = base + "." + id + ".mqx";
            if (safeId(id) && name.size() <= 255 && fuzz::isRegularFile(name))
                expectedAttachments.push_back(name);
        }
        if (expectedAttachments.empty())
            expectedErrors.push_back("No files to send");
    }

    // The exchange.
    FakeClock clock;
    ActivityLog log(clock, "");
    MailerSettings settings;
    resetSettings(settings);
    settings.tempDir = tmp.substr(0, tmp.size() - 1);  // the exchange adds the '/'
    settings.fromUser = "Station <robot@station.example>";
    RequestContext context{settings, log, clock};
    RecordingReplies replies;
    MailJob job;
    processResponses(context, request, bothSystems, job, replies);

    fuzz::note(std::to_string(replies.errors.size()) + " error reports, " +
               std::to_string(replies.jobs.size()) + " replies with " +
               std::to_string(expectedAttachments.size()) + " attachments");
    FUZZ_CHECK(replies.errors == expectedErrors,
               "error reports " + listOf(replies.errors) + "expected " + listOf(expectedErrors));
    FUZZ_CHECK(replies.jobs.size() == (expectedAttachments.empty() ? 0u : 1u),
               std::to_string(replies.jobs.size()) + " event-file replies");
    std::vector<std::string> attached;
    std::size_t n = 0;
    for (const MailJob& sent : replies.jobs) {
        FUZZ_CHECK(sent.attachmentCount >= 1 && sent.attachmentCount <= MailJob::maxAttachments,
                   "attachmentCount " + std::to_string(sent.attachmentCount));
        for (int i = 0; i < sent.attachmentCount; ++i, ++n) {
            std::string path = sent.attachments[i].str();
            attached.push_back(path);
            FUZZ_CHECK(replies.regularAtSend[n], "attachment is not a regular file: " + fuzz::visible(path));
            FUZZ_CHECK(path.compare(0, tmp.size(), tmp) == 0 &&
                           path.find('/', tmp.size()) == std::string::npos,
                       "attachment outside the temporary directory: " + fuzz::visible(path));
            bool named = false;
            for (int c = 0; c < request.channelCount; ++c) {
                std::string id = request.channels[c].str();
                if (path == base + "." + id + ".mqx") {
                    named = true;
                    FUZZ_CHECK(safeId(id), "attachment for unsafe channel " + fuzz::visible(id));
                    FUZZ_CHECK(request.channelStatus[c] == 2, "channel of an attachment not marked found");
                }
            }
            FUZZ_CHECK(named, "attachment not named for a requested channel: " + fuzz::visible(path));
        }
    }
    FUZZ_CHECK(attached == expectedAttachments,
               "attachments " + listOf(attached) + "expected " + listOf(expectedAttachments));
    for (int i = 0; i < 2; ++i)
        if (readAndDeleted[i])
            FUZZ_CHECK(!fuzz::exists(responseNames[i]), "a response file read was not deleted");
    // The outside file's words in the log, unless the input wrote them itself.
    if (std::string_view(reinterpret_cast<const char*>(data), size).find("SECRET") ==
        std::string_view::npos)
        for (const std::string& entry : log.entries())
            FUZZ_CHECK(entry.find("SECRET") == std::string::npos,
                       "a file outside was read: " + entry);
    FUZZ_CHECK(fuzz::readBytes(secret) == std::string(kSecretLine) + "\n", "the outside file changed");
    return 0;
}
