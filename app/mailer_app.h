#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "activity/activity_log.h"
#include "accounts/account_tokens.h"
#include "activity/statistics.h"
#include "app/check_now_control.h"
#include "mail/mail_transport.h"
#include "requests/request_cycle.h"
#include "settings/mailer_settings.h"
#include "spool/spool.h"

class Clock;
class DialogueTranscript;
class ImapIdleWatch;
class NetworkMailTransport;

// The composition root: owns the settings, the activity log, the statistics, the mail
// transport and the request cycle (with its resend queue) of one run, and hands references to
// them down. The desktop window and the headless runner drive it.
class MailerApp {
  public:
    // configDir holds "tarnwick.ini" and "tarnwick.log"; it ends in '/' or is empty (names
    // then stand alone, relative to the working directory). Without a transport the app talks
    // to the real POP3 and SMTP servers; timeoutMs is their wait for every read and write.
    MailerApp(Clock& clock, std::string configDir, MailTransport* transport = nullptr,
              int timeoutMs = 30000);
    ~MailerApp();

    MailerApp(const MailerApp&) = delete;
    MailerApp& operator=(const MailerApp&) = delete;

    // The start of a run: counters zeroed, settings reset and loaded (the file is created when
    // missing), "Program Startup..." logged, "MapDrive is set but has no effect on this system"
    // (file) when a drive letter is set, the recorder configurations read, polling forced
    // on when the settings are complete and off when not (a warning entry "Mail checking is
    // off: REASON" then, see mailCheckOffReason()), the spool opened, what an earlier
    // run left there taken up (its lines first, its unsent replies queued) and entries older
    // than keepDays() removed from its bad/, undelivered/ and set-aside/. Checks no mail.
    void startUp();

    // One tick of the one-second timer. A tick whose mail check read the mailbox sets
    // lastGoodCheck(). Once a day the spool's old entries are removed again. With an IMAP
    // mailbox the IDLE connection is looked at first (ImapIdleWatch): new mail it announces is
    // checked at once, when no request is being served.
    void onTick();

    // How many days the spool keeps what it set aside (--keep-days); 30 by default.
    void setKeepDays(int days) { keepDays_ = days; }
    int keepDays() const { return keepDays_; }

    // Where the mail dialogues and the OAuth2 token steps are shown (--verbose); nullptr:
    // nowhere. Takes effect with the next dialogue.
    void setTranscript(DialogueTranscript* transcript);

    // "Check Now": the check runs at a later tick, once no request is being served.
    void requestCheckNow() { cycle_.requestCheckNow(); }

    // Makes this run a single one: the mailbox is checked at the first tick and never again;
    // the lines it collected are served and queued replies retried on their schedule.
    void startSingleRun() {
        cycle_.setPeriodicChecks(false);
        cycle_.requestCheckNow();
        singleRun_ = true;
    }

    // Reads both recorder systems' configuration again ("&Update", "&Save").
    void loadRecorderSystems();

    // True when the settings may be read again now: no request waits for the recorder's
    // answer (its request files were written with the settings in force).
    bool mayReload() const { return cycle_.responseCountdown() == 0; }

    // Reads the settings file and both recorder configurations again, as at start-up, with
    // the entry "Settings reloaded: tarnwick.ini and the recorder configurations read again";
    // polling is forced on or off by the completeness of the new settings. Lines waiting and
    // queued replies stay; every later send and resend goes through the new SMTP settings.
    // A value the file holds and the record cannot take is logged "Settings Error: %s"; a file
    // that cannot be read leaves the record at its defaults, so mail checking is off.
    void reload();

    // Why the last start-up or reload left mail checking off: "PATH cannot be read: REASON",
    // or "not set: KEY, KEY" naming what the settings lack; "" when it is on.
    const std::string& mailCheckOffReason() const { return mailCheckOffReason_; }

    // Replies given up in this run: refused for good, out of tries, or refused by a full
    // queue.
    int repliesGivenUp() const { return cycle_.droppedReplies(); }
    // Replies now held back by a station-side SMTP fault; none while no such fault holds them.
    int heldReplies() const { return static_cast<int>(cycle_.heldReplies()); }

    // When the run started (startUp), and the last tick whose mail check read the mailbox (0:
    // none yet), in calendar seconds.
    std::int64_t startTime() const { return startTime_; }
    std::int64_t lastGoodCheck() const { return lastGoodCheck_; }

    // The "Check Now" button to enable and disable; nullptr when there is none.
    void setCheckNowControl(CheckNowControl* control) { cycle_.setCheckNowControl(control); }

    // True when the next tick may come at once instead of a tick's length later: new mail that
    // the IMAP IDLE connection announced was read and its first request waits to be served.
    bool nextTickNow() const { return cycle_.nextTickNow(); }

    // For a single run: true once no line waits, no response is awaited, no check is asked
    // for and no reply is queued.
    bool finished() const { return !cycle_.busy(); }
    // True while anything waits to be done: finished() is false, or a request whose reply
    // could not be kept waits in the spool to be served again.
    bool workLeft() const { return cycle_.busy() || cycle_.heldLines() > 0; }
    // 0 all replies sent, 1 the mail check failed or the spool could not be written (a request
    // may then still wait in it), 2 a reply was given up.
    int exitCode() const;

    Clock& clock() { return clock_; }
    MailerSettings& settings() { return settings_; }
    ActivityLog& log() { return log_; }
    Statistics& statistics() { return statistics_; }
    RequestCycle& cycle() { return cycle_; }
    const std::string& configDir() const { return configDir_; }
    std::string settingsPath() const { return configDir_ + kSettingsFileName; }

  private:
    void logSettingsProblems(const std::vector<std::string>& problems);
    // Switches mail checking on or off by the completeness of the settings just read, with a
    // warning saying why when it is off.
    void settleMailChecking(bool fileRead, const std::vector<std::string>& problems);

    Clock& clock_;
    std::string configDir_;
    MailerSettings settings_;
    ActivityLog log_;
    Statistics statistics_;
    std::unique_ptr<MailTransport> ownTransport_;
    NetworkMailTransport* network_ = nullptr;  // ownTransport_ when it is the real one
    Spool spool_;
    AccountTokens tokens_;
    RequestCycle cycle_;
    std::int64_t startTime_ = 0;
    std::int64_t lastGoodCheck_ = 0;
    int keepDays_ = 30;
    std::int64_t lastSpoolSweep_ = 0;
    std::string mailCheckOffReason_;
    // With the real transport: the wait for new mail in IMAP IDLE between checks (never in a
    // single run).
    std::unique_ptr<ImapIdleWatch> idleWatch_;
    bool singleRun_ = false;
};
