#include "mail/imap_idle.h"

#include <algorithm>
#include <cstdlib>

#include "activity/activity_log.h"
#include "mail/imap_connection.h"
#include "platform/clock.h"
#include "settings/mailer_settings.h"
#include "settings/text_routines.h"

namespace {

// The lines one tick reads at most; the rest wait for the next.
constexpr int kLinesPerTick = 1000;

// "* 12 EXISTS" gives 12; false for any other line.
bool countOf(const std::string& line, const char* word, std::uint32_t& count) {
    if (line.compare(0, 2, "* ") != 0)
        return false;
    char* end = nullptr;
    unsigned long n = std::strtoul(line.c_str() + 2, &end, 10);
    if (end == line.c_str() + 2 || !equalsIgnoreCase(std::string(end), std::string(" ") + word))
        return false;
    count = static_cast<std::uint32_t>(n);
    return true;
}

}  // namespace

ImapIdleWatch::ImapIdleWatch(MailContext context) : context_(context) {}

ImapIdleWatch::~ImapIdleWatch() = default;

bool ImapIdleWatch::wanted() const {
    return context_.settings.popEnable != 0 && isImapSetting(context_.settings.popServer.str());
}

std::string ImapIdleWatch::account() const {
    const MailerSettings& s = context_.settings;
    return s.popServer.str() + "\n" + s.popUser.str() + "\n" + s.popPassword.str() + "\n" +
           s.popAuthMethod;
}

bool ImapIdleWatch::takeNewMail() {
    bool announced = newMail_;
    newMail_ = false;
    return announced;
}

void ImapIdleWatch::onTick() {
    if (!wanted()) {
        stop();
        return;
    }
    if (account() != account_) {
        stop();
        account_ = account();
        delay_ = 0;
        downSince_ = 0;
        downLogged_ = false;
        open();
        return;
    }
    std::int64_t now = context_.clock.now();
    switch (state_) {
        case State::kIdling:
            readAnnouncements();
            if (state_ == State::kIdling && now - idleSince_ >= kRenewSeconds)
                renew();
            break;
        case State::kDown:
            if (now >= nextTry_)
                open();
            break;
        case State::kOff:
            open();
            break;
        case State::kNoIdle:
            break;
    }
}

void ImapIdleWatch::stop() {
    imap_.reset();
    state_ = State::kOff;
    account_.clear();
}

// Connects, logs in, looks at the folder and starts IDLE.
void ImapIdleWatch::open() {
    imap_.reset();
    error_.clear();
    ImapAddress address;
    if (!parseImapSetting(context_.settings.popServer.str(), address))
        return dropped("no host in the server setting");
    imap_ = openImapSession(context_, address, error_, nullptr, "IMAP IDLE");
    if (!imap_)
        return dropped(error_);
    if (!imap_->hasCapability("IDLE")) {
        context_.log.logMsg(true, "IMAP server %s offers no IDLE: mail is checked every %d minutes",
                            address.server.host.c_str(), context_.settings.popCheckTime);
        imap_.reset();
        state_ = State::kNoIdle;
        return;
    }
    if (imap_->command("EXAMINE " + imapQuoted(address.folder)) != ImapConnection::kOk)
        return dropped("folder " + address.folder + ": " + imap_->replyWords());
    exists_ = 0;
    for (const std::string& line : imap_->untagged()) countOf(line, "EXISTS", exists_);
    if (!startIdle())
        return dropped(error_.empty() ? "IDLE refused: " + imap_->replyWords() : error_);
    if (state_ == State::kDown || downSince_ != 0)
        newMail_ = true;  // mail may have come while the connection was down
    if (downLogged_)
        context_.log.logMsg(true, "IMAP IDLE connection open again");
    state_ = State::kIdling;
    delay_ = 0;
    downSince_ = 0;
    downLogged_ = false;
    if (!waitingLogged_) {
        waitingLogged_ = true;
        context_.log.logMsg(false, "Waiting for new mail (IMAP IDLE)");
    }
}

// IDLE, up to the server's "+" that says it waits.
bool ImapIdleWatch::startIdle() {
    if (imap_->commandToContinue("IDLE") != ImapConnection::kOk ||
        imap_->lastReply().compare(0, 1, "+") != 0)
        return false;
    idleSince_ = context_.clock.now();
    return true;
}

// What the server said since the last tick: EXISTS and EXPUNGE keep the folder's count; a
// count that grows is new mail. BYE or a lost connection is a drop.
void ImapIdleWatch::readAnnouncements() {
    for (int n = 0; n < kLinesPerTick && imap_->dataWaiting(0); ++n) {
        std::string line;
        if (!imap_->readUntaggedLine(line))
            return dropped("IMAP Get Char Error");
        std::uint32_t count = 0;
        if (countOf(line, "EXISTS", count)) {
            if (count > exists_)
                newMail_ = true;
            exists_ = count;
        } else if (countOf(line, "EXPUNGE", count)) {
            exists_ = exists_ > 0 ? exists_ - 1 : 0;
        } else if (startsWithIgnoringCase(line, "* bye")) {
            return dropped(line.substr(2));
        }
    }
}

// Ends IDLE with DONE and starts it again, as servers end an IDLE after 30 minutes.
void ImapIdleWatch::renew() {
    imap_->sendLine("DONE");
    ImapConnection::Status status = imap_->finish();
    for (const std::string& line : imap_->untagged()) {
        std::uint32_t count = 0;
        if (countOf(line, "EXISTS", count)) {
            newMail_ = newMail_ || count > exists_;
            exists_ = count;
        }
    }
    if (status != ImapConnection::kOk || !startIdle())
        dropped(error_.empty() ? "IDLE could not be renewed" : error_);
}

// The connection is gone or could not be opened: tried again after a growing delay, logged only
// once it has stayed down for a while.
void ImapIdleWatch::dropped(const std::string& reason) {
    imap_.reset();
    std::int64_t now = context_.clock.now();
    if (downSince_ == 0)
        downSince_ = now;
    state_ = State::kDown;
    delay_ = delay_ == 0 ? 1 : std::min(delay_ * 2, kLongestDelaySeconds);
    nextTry_ = now + delay_;
    if (!downLogged_ && now - downSince_ >= kQuietDownSeconds) {
        downLogged_ = true;
        context_.log.logMsg(true,
                            "IMAP IDLE connection down: %s; mail is checked every %d minutes "
                            "meanwhile",
                            reason.c_str(), context_.settings.popCheckTime);
    }
}
