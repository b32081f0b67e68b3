#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mail/collected_line.h"
#include "mail/mail_job.h"
#include "requests/event_file_request.h"
#include "requests/replies.h"
#include "requests/request_context.h"
#include "requests/resend_queue.h"

class CheckNowControl;
class MailTransport;
class NewMailWatch;
class Spool;
struct Statistics;

// The tick's work. Each tick does exactly one thing, by priority: watch for the recorder's
// answer to the request in progress, dispatch the next collected request line, run a check the
// user asked for, or, when idle, run the periodic mail check or pace the resend queue. A
// request line is served to its end before the next one is taken. Every line taken from the
// mailbox stays in the spool until it is done: its reply accepted by the SMTP server, or kept
// whole in the spool's resend queue, or given up. A line whose reply could be neither sent nor
// kept stays in the spool and is served again at a later resend opportunity (or by the next
// run).
class RequestCycle {
  public:
    static constexpr int responseWaitTicks = 90;
    static constexpr int resendIdleTicks = 120;
    static constexpr int resendNextTicks = 30;
    static constexpr int resendFailedTicks = 300;

    RequestCycle(RequestContext context, Statistics& statistics, MailTransport& transport,
                 Spool& spool);

    RequestCycle(const RequestCycle&) = delete;
    RequestCycle& operator=(const RequestCycle&) = delete;

    // The state of a new run: nothing pending, the queue empty, the first resend look 120
    // ticks away.
    void reset();

    // Takes up what an earlier run left in the spool: its lines are served first, its unsent
    // replies queued (as many as the queue holds). Logs "Resuming %d requests and %d unsent
    // replies" when there are any. The request and response files of a request the earlier
    // run was waiting for are removed: nobody waits for them any more.
    void resume();

    // One tick of the one-second timer.
    void onTick();

    // Reads the mailbox and collects its request lines for dispatch. verbose: the user asked.
    void checkMail(bool verbose);

    // "Check Now" pressed: the check runs at the first tick with nothing else to do.
    void requestCheckNow();

    void setCheckNowControl(CheckNowControl* control) { checkNowControl_ = control; }

    // What tells of new mail as it arrives (IMAP IDLE): an idle tick then checks at once
    // instead of waiting for the interval. nullptr: none, the interval alone.
    void setNewMailWatch(NewMailWatch* watch) { newMailWatch_ = watch; }

    // With periodic checks off, an idle tick only paces the resend queue: the mailbox is
    // read only when a check is asked for. On by default; reset() leaves it as it is.
    void setPeriodicChecks(bool on) { periodicChecks_ = on; }

    // The most request lines served from one mail (the rest are refused) and the most
    // recipients one line may name (a line with more is refused). 20 and 5 by default.
    void setLimits(int maxLinesPerMail, int maxRecipients) {
        maxLinesPerMail_ = maxLinesPerMail;
        maxRecipients_ = maxRecipients;
    }

    // True after a tick whose check was started by new mail announced by the watch and found
    // request lines: the next tick, which serves the first of them, may come at once.
    bool nextTickNow() const { return nextTickNow_; }

    // True while a line waits, a response is awaited, a check is asked for or a reply is queued
    // (and not held).
    bool busy() const;
    // Replies held by a station-side SMTP fault: the queued replies, while the hold lasts.
    std::size_t heldReplies() const { return queue_.held() ? queue_.size() : 0; }
    // The queue is tried again at the next tick (the settings may have changed).
    void resendSoon() { resendCountdown_ = 0; }
    // Lines whose replies could not be kept: they stay in the spool, to be served again.
    std::size_t heldLines() const { return heldLines_.size(); }

    // What the run saw, for the exit code of a single run.
    bool mailCheckFailed() const { return mailCheckFailed_; }
    // Why the last mail check failed ("POP Enable Error", or the POP error); "" when it did not.
    const std::string& mailCheckError() const { return mailCheckError_; }
    int droppedReplies() const { return queue_.droppedJobs(); }

    ResendQueue& resendQueue() { return queue_; }
    Replies& replies() { return replies_; }
    const EventFileRequest& currentRequest() const { return currentRequest_; }
    int linesPending() const { return linesPending_; }
    int responseCountdown() const { return responseCountdown_; }
    int resendCountdown() const { return resendCountdown_; }
    std::int64_t lastCheckTime() const { return lastCheckTime_; }

  private:
    void responseWaitStep();
    void dispatchStep();
    // What became of a dispatched line.
    // kUnservedMail: the line of a mail whose request key gave no request line.
    enum class Verdict {
        kServed,
        kBadLine,
        kTooManyLines,
        kTooManyRecipients,
        kBadRecipient,
        kUnservedMail
    };
    Verdict dispatchLine();
    bool nextLineIsOfSameMail() const;
    Verdict dispatchFileRequest(const std::string& rest, const std::string& messageId);
    Verdict dispatchInfoRequest(const std::string& rest, const std::string& messageId);
    // kTooManyRecipients or kBadRecipient, with its entry, when the parsed reply address names
    // more recipients than allowed or one that is not a mailbox; else kServed.
    Verdict checkRecipients();
    // The reason a refused line gets in its sender's error report.
    std::string refusalText(Verdict verdict, const std::string& line) const;
    void answerRefusedLines();
    // The line is done: it leaves the spool, unless a reply to it could not be kept; then it
    // stays there and is held to be served again.
    void lineDone(const CollectedLine& line);
    void settleLine(const CollectedLine& line, bool replyNotKept);
    void idleStep(std::int64_t now);
    // Whether new mail was announced since the last idle tick that asked (the announcement is
    // taken, so a check it starts also stands for an interval that ended).
    bool newMailAnnounced();
    void pollResendQueue();
    bool responsesArrived() const;
    void setCheckNowEnabled(bool enabled);

    RequestContext context_;
    Statistics& statistics_;
    MailTransport& transport_;
    Spool& spool_;
    ResendQueue queue_;
    CheckNowControl* checkNowControl_ = nullptr;
    NewMailWatch* newMailWatch_ = nullptr;
    bool nextTickNow_ = false;

    // The refused lines of the mail being dispatched, answered together once its last line
    // has been taken.
    struct RefusedLines {
        int mail = 0;
        std::string sender;
        std::string messageId;
        std::vector<std::string> errors;  // one reason a refused line
        std::vector<CollectedLine> lines;
        int linesTaken = 0;  // the mail's lines dispatched so far
    };

    std::vector<CollectedLine> requestLines_;
    RefusedLines refused_;
    std::string badRecipient_;  // the recipient that was no mailbox, for the refusal
    int linesPending_ = 0;
    int nextLineIndex_ = 0;
    int responseCountdown_ = 0;
    int bothSystems_ = 0;
    bool checkNowRequested_ = false;
    std::int64_t lastCheckTime_ = 0;
    int resendCountdown_ = resendIdleTicks;
    EventFileRequest currentRequest_;
    CollectedLine currentLine_;  // the request awaiting its response
    std::vector<CollectedLine> heldLines_;
    MailJob eventFileJob_;
    Replies replies_;
    bool mailCheckFailed_ = false;
    std::string mailCheckError_;
    bool periodicChecks_ = true;
    int maxLinesPerMail_ = 20;
    int maxRecipients_ = 5;
};
