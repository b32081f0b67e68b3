#include "mail/imap_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "activity/activity_log.h"
#include "mail/imap_address.h"
#include "mail/imap_connection.h"
#include "mail/imap_taken_mails.h"
#include "mail/mail_lines.h"
#include "mail/mime_reader.h"
#include "settings/mailer_settings.h"
#include "settings/text_routines.h"

namespace {

// UIDs named by one command.
constexpr std::size_t kUidsPerCommand = 200;

// The number after "[WORD " in a response line ("* OK [UIDVALIDITY 3] ..."); false when absent.
bool codeNumber(const std::string& line, const char* word, std::uint32_t& number) {
    std::string code = std::string("[") + word + " ";
    std::size_t at = toUpperAscii(line).find(code);
    if (at == std::string::npos)
        return false;
    number = static_cast<std::uint32_t>(std::strtoul(line.c_str() + at + code.size(), nullptr, 10));
    return true;
}

// The UIDs of the "* SEARCH" answers, ascending.
std::vector<std::uint32_t> searchedUids(const std::vector<std::string>& untagged) {
    std::vector<std::uint32_t> uids;
    for (const std::string& line : untagged) {
        if (!startsWithIgnoringCase(line, "* search"))
            continue;
        const char* at = line.c_str() + 8;
        for (char* end = nullptr;; at = end) {
            unsigned long uid = std::strtoul(at, &end, 10);
            if (end == at)
                break;
            if (uid > 0 && uid <= UINT32_MAX)
                uids.push_back(static_cast<std::uint32_t>(uid));
        }
    }
    std::sort(uids.begin(), uids.end());
    uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
    return uids;
}

// The INTERNALDATE of a FETCH answer ("... INTERNALDATE \"19-Feb-2003 07:05:09 +0100\" ..."),
// calendar seconds; 0 when there is none or it cannot be read.
std::int64_t internalDate(const std::vector<std::string>& untagged) {
    static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
    for (const std::string& line : untagged) {
        std::size_t at = toUpperAscii(line).find("INTERNALDATE \"");
        if (at == std::string::npos)
            continue;
        int day = 0, year = 0, hour = 0, minute = 0, second = 0, zone = 0;
        char month[4] = {};
        if (std::sscanf(line.c_str() + at + 14, "%d-%3c-%d %d:%d:%d %d", &day, month, &year, &hour,
                        &minute, &second, &zone) != 7)
            return 0;
        std::string name = toLowerAscii(std::string(month, 3));
        for (int m = 0; m < 12; ++m) {
            if (name != kMonths[m])
                continue;
            std::tm t{};
            t.tm_year = year - 1900;
            t.tm_mon = m;
            t.tm_mday = day;
            t.tm_hour = hour;
            t.tm_min = minute;
            t.tm_sec = second;
            int offset = (std::abs(zone) / 100 * 60 + std::abs(zone) % 100) * 60;
            return static_cast<std::int64_t>(timegm(&t)) - (zone < 0 ? -offset : offset);
        }
        return 0;
    }
    return 0;
}

std::string uidSet(const std::vector<std::uint32_t>& uids, std::size_t from, std::size_t count) {
    std::string set;
    for (std::size_t i = from; i < std::min(uids.size(), from + count); ++i) {
        if (!set.empty())
            set += ',';
        set += std::to_string(uids[i]);
    }
    return set;
}

// One IMAP check, from login to LOGOUT.
class ImapSession {
  public:
    ImapSession(MailContext& ctx, std::vector<CollectedLine>& lines, std::string& error,
                LineKeeper* keeper)
        : ctx_(ctx), lines_(lines), error_(error), keeper_(keeper) {}

    int readMailbox();
    int check(int& messages, std::string& notes);
    const std::string& serverSaid() const { return serverSaid_; }
    const std::string& mechanism() const { return mechanism_; }
    int mailsRead() const { return mailsRead_; }

  private:
    int login();
    int selectFolder(const char* verb);
    bool fetchMail(std::uint32_t uid, int mail, LineKeeper* keeper, bool& done);
    bool readBody(std::size_t size, MessageLines& message, bool& bodyRead);
    bool moveOut(const std::vector<std::uint32_t>& uids);
    bool moveSet(const std::string& set, const std::string& folder);
    bool deleteSet(const std::string& set);
    bool withCreate(const std::string& command, const std::string& folder);
    std::string serverFolder(const std::string& folder);
    bool fail(const std::string& text) {
        error_ = imap_->masked(text).substr(0, 255);
        return false;
    }

    MailContext& ctx_;
    std::vector<CollectedLine>& lines_;
    std::string& error_;
    LineKeeper* keeper_;
    std::unique_ptr<ImapConnection> imap_;
    ImapAddress address_;
    MessageBuffer buffer_;
    std::string serverSaid_;
    std::string mechanism_;
    std::uint32_t uidValidity_ = 0;
    std::uint32_t exists_ = 0;
    int mailsRead_ = 0;
};

int ImapSession::login() {
    error_.clear();
    if (!parseImapSetting(ctx_.settings.popServer.str(), address_)) {
        error_ = "IMAP Connect Error: no host in the server setting";
        return 0;
    }
    imap_ = openImapSession(ctx_, address_, error_, &serverSaid_);
    if (!imap_)
        return 0;
    mechanism_ = imap_->mechanism();
    return 1;
}

// SELECT (or EXAMINE) the folder: its UIDVALIDITY and message count.
int ImapSession::selectFolder(const char* verb) {
    if (imap_->command(std::string(verb) + " " + imapQuoted(address_.folder)) !=
        ImapConnection::kOk)
        return fail("IMAP folder " + address_.folder +
                    " cannot be selected: " + imap_->replyWords()),
               0;
    for (const std::string& line : imap_->untagged()) {
        codeNumber(line, "UIDVALIDITY", uidValidity_);
        if (line.size() > 9 && toUpperAscii(line).ends_with(" EXISTS"))
            exists_ = static_cast<std::uint32_t>(std::strtoul(line.c_str() + 2, nullptr, 10));
    }
    return 1;
}

int ImapSession::readMailbox() {
    lines_.clear();
    if (!login())
        return 0;
    if (!selectFolder("SELECT"))
        return imap_->logout(), 0;
    if (imap_->command("UID SEARCH UNDELETED") != ImapConnection::kOk) {
        fail("IMAP UID SEARCH failed: " + imap_->replyWords());
        return imap_->logout(), 0;
    }
    std::vector<std::uint32_t> uids = searchedUids(imap_->untagged());
    std::unique_ptr<ImapTakenMails> taken;
    if (keeper_) {
        taken = std::make_unique<ImapTakenMails>(*keeper_, address_.folder, uidValidity_);
        if (taken->validityChanged())
            ctx_.log.logMsg(true,
                            "IMAP folder %s has a new UIDVALIDITY %u: mails read before "
                            "are known by their Message-ID",
                            address_.folder.c_str(), uidValidity_);
    }
    std::vector<std::uint32_t> done;
    int result = 1;
    int mail = 0;
    for (std::uint32_t uid : uids) {
        if (taken && taken->uidTaken(uid)) {
            // Kept by a run that stopped before it was moved out: only the move is left.
            done.push_back(uid);
            continue;
        }
        bool handled = false;
        if (!fetchMail(uid, ++mail, taken.get(), handled)) {
            result = 0;
            break;
        }
        if (handled)
            done.push_back(uid);
    }
    if (keeper_ && !lines_.empty() && !keeper_->keepLines(lines_)) {
        error_ = "Spool Error: the request lines could not be kept; the mail stays on the server";
        lines_.clear();
        imap_->close();
        return 0;
    }
    if (!moveOut(done))
        result = 0;
    else if (result == 1 && done.size() == uids.size() && keeper_)
        keeper_->mailboxCommitted();
    imap_->logout();
    return result;
}

// Fetches one mail whole and reads it; done tells whether it is to leave the folder. False
// when the connection failed.
bool ImapSession::fetchMail(std::uint32_t uid, int mail, LineKeeper* keeper, bool& done) {
    MessageLines message(buffer_);
    bool bodyRead = false;
    ImapConnection::Status status =
        imap_->command("UID FETCH " + std::to_string(uid) + " (INTERNALDATE BODY.PEEK[])",
                       [&](std::size_t size) { return readBody(size, message, bodyRead); });
    if (status == ImapConnection::kLost)
        return fail(error_.empty() ? "IMAP Get Char Error" : error_);
    if (status != ImapConnection::kOk || !bodyRead) {
        ctx_.log.logMsg(true, "IMAP mail %u could not be fetched: %s", uid,
                        imap_->replyWords().c_str());
        return true;  // left in the folder
    }
    ++mailsRead_;
    std::size_t before = lines_.size();
    done = MailLineCollector(ctx_, keeper, lines_)
               .collect(buffer_, message, mail, imapKeyPrefix(address_.folder, uidValidity_, uid));
    std::int64_t arrival = internalDate(imap_->untagged());
    for (std::size_t i = before; i < lines_.size(); ++i) lines_[i].arrival = arrival;
    return true;
}

// Reads a literal of the FETCH answer as the lines of a mail. The first literal is the mail;
// any other is read and dropped.
bool ImapSession::readBody(std::size_t size, MessageLines& message, bool& bodyRead) {
    std::string stuffed;
    while (size > 0) {
        std::string_view line;
        std::size_t taken = 0;
        if (!imap_->readLiteralLine(size, line, taken))
            return false;
        size -= taken;
        if (bodyRead)
            continue;
        if (!line.empty() && line.front() == '.') {
            // The mail reader takes lines as POP3 sends them: a leading dot doubled.
            stuffed.assign(1, '.').append(line);
            line = stuffed;
        }
        message.take(line);
    }
    if (!bodyRead)
        message.take(".");
    bodyRead = true;
    return true;
}

// The folder's name on the server: each "/" written with the server's hierarchy separator.
std::string ImapSession::serverFolder(const std::string& folder) {
    if (imap_->command("LIST \"\" \"\"") != ImapConnection::kOk)
        return folder;
    for (const std::string& line : imap_->untagged()) {
        std::size_t quote = line.find('"');
        if (!startsWithIgnoringCase(line, "* list") || quote == std::string::npos ||
            quote + 2 >= line.size())
            continue;
        char separator = line[quote + 1] == '\\' ? line[quote + 2] : line[quote + 1];
        std::string name = folder;
        std::replace(name.begin(), name.end(), '/', separator);
        return name;
    }
    return folder;
}

bool ImapSession::moveOut(const std::vector<std::uint32_t>& uids) {
    if (uids.empty())
        return true;
    std::string folder = imapDoneFolder(ctx_.settings);
    if (!folder.empty())
        folder = serverFolder(folder);
    for (std::size_t from = 0; from < uids.size(); from += kUidsPerCommand) {
        std::string set = uidSet(uids, from, kUidsPerCommand);
        if (!(folder.empty() ? deleteSet(set) : moveSet(set, folder)))
            return false;
    }
    return true;
}

bool ImapSession::moveSet(const std::string& set, const std::string& folder) {
    if (imap_->hasCapability("MOVE")) {
        if (withCreate("UID MOVE " + set + " ", folder))
            return true;
        return fail("IMAP mails " + set + " could not be moved to " + folder + ": " +
                    imap_->replyWords());
    }
    if (!withCreate("UID COPY " + set + " ", folder))
        return fail("IMAP mails " + set + " could not be copied to " + folder + ": " +
                    imap_->replyWords());
    return deleteSet(set);
}

// Runs the command on the folder; when the server says the folder is missing ([TRYCREATE]),
// creates it (and subscribes to it) and runs the command again.
bool ImapSession::withCreate(const std::string& command, const std::string& folder) {
    ImapConnection::Status status = imap_->command(command + imapQuoted(folder));
    if (status == ImapConnection::kOk)
        return true;
    if (status == ImapConnection::kLost ||
        toUpperAscii(imap_->lastReply()).find("[TRYCREATE]") == std::string::npos)
        return false;
    if (imap_->command("CREATE " + imapQuoted(folder)) != ImapConnection::kOk)
        return false;
    ctx_.log.logMsg(true, "IMAP folder %s created for the mails answered", folder.c_str());
    imap_->command("SUBSCRIBE " + imapQuoted(folder));
    return imap_->command(command + imapQuoted(folder)) == ImapConnection::kOk;
}

bool ImapSession::deleteSet(const std::string& set) {
    if (imap_->command("UID STORE " + set + " +FLAGS.SILENT (\\Deleted)") != ImapConnection::kOk)
        return fail("IMAP mails " + set + " could not be marked deleted: " + imap_->replyWords());
    std::string expunge = imap_->hasCapability("UIDPLUS") ? "UID EXPUNGE " + set : "EXPUNGE";
    if (imap_->command(expunge) != ImapConnection::kOk)
        return fail("IMAP mails " + set + " could not be expunged: " + imap_->replyWords());
    return true;
}

int ImapSession::check(int& messages, std::string& notes) {
    if (!login())
        return 0;
    if (!selectFolder("EXAMINE"))
        return imap_->logout(), 0;
    messages = static_cast<int>(exists_);
    std::string folder = imapDoneFolder(ctx_.settings);
    if (folder.empty()) {
        notes = "handled mails are deleted";
    } else {
        folder = serverFolder(folder);
        if (imap_->command("STATUS " + imapQuoted(folder) + " (MESSAGES)") == ImapConnection::kOk)
            notes = "done folder " + folder + " there";
        else
            notes = "done folder " + folder + " not there yet: created at the first move";
        notes += imap_->hasCapability("MOVE") ? " (UID MOVE)" : " (COPY and EXPUNGE)";
    }
    notes += imap_->hasCapability("IDLE") ? "; IDLE offered" : "; no IDLE: polled";
    imap_->logout();
    return 1;
}

}  // namespace

std::string imapDoneFolder(const MailerSettings& settings) {
    if (settings.imapDoneFolder.empty())
        return "Tarnwick/Done";
    return settings.imapDoneFolder == kNoDoneFolder ? std::string() : settings.imapDoneFolder;
}

int readImapMailbox(MailContext& ctx, std::vector<CollectedLine>& lines, std::string& error,
                    std::string* serverSaid, LineKeeper* keeper, int* mailsRead) {
    ImapSession session(ctx, lines, error, keeper);
    int result = session.readMailbox();
    if (serverSaid)
        *serverSaid = session.serverSaid();
    if (mailsRead)
        *mailsRead = session.mailsRead();
    return result;
}

int checkImapMailbox(MailContext& ctx, int& messages, std::string& error, std::string* serverSaid,
                     std::string* mechanism, std::string* notes) {
    std::vector<CollectedLine> none;
    ImapSession session(ctx, none, error, nullptr);
    messages = 0;
    std::string seen;
    int result = session.check(messages, seen);
    if (serverSaid)
        *serverSaid = session.serverSaid();
    if (mechanism)
        *mechanism = session.mechanism();
    if (notes)
        *notes = seen;
    return result;
}
