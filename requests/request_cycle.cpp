#include "requests/request_cycle.h"

#include <unistd.h>

#include "activity/activity_log.h"
#include "activity/statistics.h"
#include "app/check_now_control.h"
#include "mail/mail_transport.h"
#include "mail/new_mail_watch.h"
#include "platform/clock.h"
#include "requests/recipient_address.h"
#include "requests/recorder_exchange.h"
#include "requests/request_lines.h"
#include "settings/mailer_settings.h"
#include "settings/text_routines.h"
#include "spool/spool.h"

namespace {

// The text after the prefix when the line begins with it (compared exactly: the mail reader
// has lower-cased the line).
bool afterPrefix(const std::string& line, const char* prefix, std::string& rest) {
    std::size_t n = std::char_traits<char>::length(prefix);
    if (line.compare(0, n, prefix) != 0)
        return false;
    rest = line.substr(n);
    return true;
}

}  // namespace

RequestCycle::RequestCycle(RequestContext context, Statistics& statistics, MailTransport& transport,
                           Spool& spool)
    : context_(context),
      statistics_(statistics),
      transport_(transport),
      spool_(spool),
      queue_(transport, context.log, &spool),
      replies_(context.settings, currentRequest_, statistics, context.log, transport, queue_) {}

void RequestCycle::reset() {
    requestLines_.clear();
    refused_ = RefusedLines{};
    checkNowRequested_ = false;
    linesPending_ = 0;
    nextLineIndex_ = 0;
    responseCountdown_ = 0;
    lastCheckTime_ = 0;
    queue_.clear();
    resendCountdown_ = resendIdleTicks;
    mailCheckFailed_ = false;
    mailCheckError_.clear();
    currentLine_ = CollectedLine{};
    heldLines_.clear();
    replies_.clearNotKept();
}

void RequestCycle::resume() {
    removeAbandonedRequestFiles(context_.settings);
    requestLines_ = spool_.loadLines();
    int replies = queue_.resume();
    int lines = static_cast<int>(requestLines_.size());
    linesPending_ = lines;
    nextLineIndex_ = 0;
    if (lines + replies > 0)
        context_.log.logNotice("Resuming %d requests and %d unsent replies", lines, replies);
}

void RequestCycle::lineDone(const CollectedLine& line) {
    settleLine(line, replies_.anyNotKept());
    replies_.clearNotKept();
}

void RequestCycle::settleLine(const CollectedLine& line, bool replyNotKept) {
    if (replyNotKept)
        heldLines_.push_back(line);
    else
        spool_.removeLine(line.spoolId);
}

void RequestCycle::setCheckNowEnabled(bool enabled) {
    if (checkNowControl_)
        checkNowControl_->setCheckNowEnabled(enabled);
}

void RequestCycle::requestCheckNow() {
    checkNowRequested_ = true;
    setCheckNowEnabled(false);
}

bool RequestCycle::busy() const {
    // Held replies wait for the settings to change: nothing is left to do for them meanwhile.
    return linesPending_ != 0 || responseCountdown_ != 0 || checkNowRequested_ ||
           (!queue_.empty() && !queue_.held());
}

void RequestCycle::checkMail(bool verbose) {
    ActivityLog& log = context_.log;
    if (context_.settings.popEnable == 0) {
        log.logMsg(true, "POP Enable Error");
        mailCheckFailed_ = true;
        mailCheckError_ = "POP Enable Error";
        return;
    }
    if (verbose)
        log.logMsg(false, "Checking for new email messages...");
    setCheckNowEnabled(false);
    ++statistics_.popLoginAttempts;
    mailCheckError_.clear();
    std::string error;
    if (transport_.readMailbox(requestLines_, error, &spool_)) {
        ++statistics_.goodPopLogins;
    } else {
        ++statistics_.badPopLogins;
        log.logMsg(true, "POP Error: %s", error.c_str());
        std::string said = transport_.popServerSaid();
        if (!said.empty())
            log.logMsg(true, "POP server said: %s", said.c_str());
        mailCheckFailed_ = true;
        mailCheckError_ = error;
    }
    // Lines collected before a failure are served like any others. A mail that gave no
    // request line has its own entry already.
    linesPending_ = static_cast<int>(requestLines_.size());
    nextLineIndex_ = 0;
    int n = 0;
    for (const CollectedLine& line : requestLines_) n += line.isUnservedMail() ? 0 : 1;
    if (linesPending_ == 0) {
        // After a failed login nothing was read: "no new messages" would not be known.
        if (verbose && transport_.mailsRead() == 0 && mailCheckError_.empty())
            log.logMsg(false, "No new email messages");
        setCheckNowEnabled(true);
        return;
    }
    if (n > 0)
        log.logMsg(false, "New messages: %d", n);
    statistics_.requestFiles += n;
}

void RequestCycle::onTick() {
    std::int64_t now = context_.clock.now();
    nextTickNow_ = false;
    if (resendCountdown_ != 0)
        --resendCountdown_;
    if (responseCountdown_ != 0) {
        responseWaitStep();
    } else if (linesPending_ != 0) {
        dispatchStep();
    } else if (checkNowRequested_) {
        checkNowRequested_ = false;
        checkMail(true);
        lastCheckTime_ = now;
    } else {
        idleStep(now);
    }
    // The lines done in this tick are marked on the disk once.
    spool_.syncDoneMarks();
}

void RequestCycle::idleStep(std::int64_t now) {
    const MailerSettings& settings = context_.settings;
    if (lastCheckTime_ == 0 || settings.popEnable == 0) {
        // The first periodic check comes one full interval after start or after enabling.
        lastCheckTime_ = now;
    } else if (periodicChecks_ && newMailAnnounced()) {
        // The requester waits: the line is served at a tick that follows at once.
        checkMail(false);
        lastCheckTime_ = now;
        nextTickNow_ = linesPending_ != 0;
    } else if (periodicChecks_ && (now - lastCheckTime_) / 60 >= settings.popCheckTime) {
        checkMail(false);
        lastCheckTime_ = now;
    } else if (resendCountdown_ == 0) {
        pollResendQueue();
    }
}

bool RequestCycle::newMailAnnounced() {
    return newMailWatch_ && newMailWatch_->takeNewMail();
}

void RequestCycle::pollResendQueue() {
    if (!heldLines_.empty()) {
        // Served as if just read: their replies may be kept now.
        context_.log.logMsg(false, "Serving %d kept requests again",
                            static_cast<int>(heldLines_.size()));
        requestLines_ = std::move(heldLines_);
        heldLines_.clear();
        linesPending_ = static_cast<int>(requestLines_.size());
        nextLineIndex_ = 0;
        resendCountdown_ = resendFailedTicks;
        return;
    }
    if (queue_.empty()) {
        resendCountdown_ = resendIdleTicks;
        return;
    }
    if (queue_.resendNext() == 0)
        resendCountdown_ = resendFailedTicks;
    else
        resendCountdown_ = queue_.empty() ? resendIdleTicks : resendNextTicks;
}

bool RequestCycle::responsesArrived() const {
    const FixedText<256>* names = currentRequest_.responseFiles;
    if (bothSystems_)
        return fileExists(names[0].str()) && fileExists(names[1].str());
    return (!names[0].empty() && fileExists(names[0].str())) ||
           (!names[1].empty() && fileExists(names[1].str()));
}

void RequestCycle::responseWaitStep() {
    if (responsesArrived()) {
        processResponses(context_, currentRequest_, bothSystems_, eventFileJob_, replies_);
        responseCountdown_ = 0;
        lineDone(currentLine_);
        if (linesPending_ == 0)
            setCheckNowEnabled(true);
        return;
    }
    if (--responseCountdown_ != 0)
        return;
    context_.log.logMsg(true, "No response from datalogger");
    replies_.sendErrorReport("No response from datalogger");
    lineDone(currentLine_);
    // With both systems asked this is the second system's file, written last.
    ::unlink(currentRequest_.requestFile.c_str());
    if (linesPending_ == 0)
        setCheckNowEnabled(true);
}

// Refused lines cost no tick of their own: the lines of a mail are taken in one tick for as
// long as they are refused, so a mail of many bad lines delays the next request by one tick.
void RequestCycle::dispatchStep() {
    while (dispatchLine() != Verdict::kServed && linesPending_ != 0 && nextLineIsOfSameMail()) {
    }
}

bool RequestCycle::nextLineIsOfSameMail() const {
    const CollectedLine& next = requestLines_[static_cast<std::size_t>(nextLineIndex_)];
    return next.mail == refused_.mail && next.sender == refused_.sender &&
           next.messageId == refused_.messageId;
}

RequestCycle::Verdict RequestCycle::dispatchLine() {
    CollectedLine line = requestLines_[static_cast<std::size_t>(nextLineIndex_++)];
    replies_.setArrival(line.arrival);
    if (line.mail != refused_.mail || line.sender != refused_.sender ||
        line.messageId != refused_.messageId) {
        answerRefusedLines();
        refused_.mail = line.mail;
        refused_.sender = line.sender;
        refused_.messageId = line.messageId;
    }
    responseCountdown_ = 0;
    // The parsers see the whole line, so they can refuse one that is too long.
    std::string rest;
    Verdict verdict = Verdict::kServed;
    if (line.isUnservedMail()) {
        verdict = Verdict::kUnservedMail;
    } else if (line.mail > 0 && ++refused_.linesTaken > maxLinesPerMail_) {
        context_.log.logMsg(true, "Too many request lines in one mail = %s", line.text.c_str());
        verdict = Verdict::kTooManyLines;
    } else if (afterPrefix(line.text, kFileRequestPrefix, rest)) {
        verdict = dispatchFileRequest(rest, line.messageId);
    } else if (afterPrefix(line.text, kInfoRequestPrefix, rest)) {
        verdict = dispatchInfoRequest(rest, line.messageId);
    }
    if (verdict != Verdict::kServed) {
        refused_.errors.push_back(refusalText(verdict, line.text));
        refused_.lines.push_back(line);
    } else if (responseCountdown_ != 0) {
        currentLine_ = line;
    } else {
        lineDone(line);
    }
    if (--linesPending_ == 0) {
        answerRefusedLines();
        if (responseCountdown_ == 0)
            setCheckNowEnabled(true);
    }
    return verdict;
}

std::string RequestCycle::refusalText(Verdict verdict, const std::string& line) const {
    switch (verdict) {
        case Verdict::kTooManyLines:
            return "Too many request lines in one mail (at most " +
                   std::to_string(maxLinesPerMail_) + ") = " + line;
        case Verdict::kUnservedMail:
            return line.substr(kUnservedMailMark.size());
        case Verdict::kTooManyRecipients:
            return "Too many recipients (at most " + std::to_string(maxRecipients_) + ") = " + line;
        case Verdict::kBadRecipient:
            return "Bad Recipient Address = " + badRecipient_;
        default:
            return "Bad Request Line = " + line;
    }
}

// A mail with refused lines gets one error report to its sender, when it has one.
void RequestCycle::answerRefusedLines() {
    if (!refused_.errors.empty() && !refused_.sender.empty())
        replies_.sendRefusalReport(refused_.sender, refused_.messageId, refused_.errors);
    bool notKept = replies_.anyNotKept();
    replies_.clearNotKept();
    for (const CollectedLine& line : refused_.lines) settleLine(line, notKept);
    refused_ = RefusedLines{};
}

// The reply address names more recipients than a line may send to, or one that is no mailbox;
// kServed, without an entry, when it is sound.
RequestCycle::Verdict RequestCycle::checkRecipients() {
    std::string names = currentRequest_.replyTo.str();
    std::vector<std::string> recipients = recipientsOf(names);
    if (recipients.size() > static_cast<std::size_t>(maxRecipients_)) {
        context_.log.logMsg(true, "Too many recipients = %s", names.c_str());
        return Verdict::kTooManyRecipients;
    }
    for (const std::string& recipient : recipients) {
        if (!isMailboxAddress(recipient)) {
            badRecipient_ = recipient;
            context_.log.logMsg(true, "Bad Recipient Address = %s", recipient.c_str());
            return Verdict::kBadRecipient;
        }
    }
    return Verdict::kServed;
}

RequestCycle::Verdict RequestCycle::dispatchInfoRequest(const std::string& rest,
                                                        const std::string& messageId) {
    context_.log.logMsg(false, "Info Req: %s", rest.c_str());
    if (!parseInfoRequest(rest, currentRequest_, context_.log))
        return Verdict::kBadLine;
    if (Verdict verdict = checkRecipients(); verdict != Verdict::kServed)
        return verdict;
    currentRequest_.requestMessageId = messageId;
    replies_.sendStationInfo();
    return Verdict::kServed;
}

RequestCycle::Verdict RequestCycle::dispatchFileRequest(const std::string& rest,
                                                        const std::string& messageId) {
    context_.log.logMsg(false, "File Req: %s", rest.c_str());
    ParseOutcome outcome = parseFileRequestLine(rest, currentRequest_, context_.log);
    if (outcome == ParseOutcome::kBadLine)
        return Verdict::kBadLine;
    if (outcome == ParseOutcome::kNoChannels)
        return Verdict::kServed;  // dropped without a word, as ever
    if (Verdict verdict = checkRecipients(); verdict != Verdict::kServed)
        return verdict;
    currentRequest_.requestMessageId = messageId;
    std::string error;
    if (submitFileRequest(context_, currentRequest_, bothSystems_, error)) {
        responseCountdown_ = responseWaitTicks;
        return Verdict::kServed;
    }
    context_.log.logMsg(true, "%s", error.c_str());
    replies_.sendErrorReport(error);
    return Verdict::kServed;
}
