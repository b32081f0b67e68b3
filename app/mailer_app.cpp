#include "app/mailer_app.h"

#include "accounts/secrets.h"
#include "app/exit_codes.h"
#include "mail/imap_idle.h"
#include "mail/network_transport.h"
#include "platform/clock.h"
#include "requests/recorder_config.h"
#include "settings/settings_secrets.h"

namespace {

MailTransport& chooseTransport(MailTransport* given, std::unique_ptr<MailTransport>& own,
                               NetworkMailTransport*& network, MailContext context) {
    if (given)
        return *given;
    auto real = std::make_unique<NetworkMailTransport>(context);
    network = real.get();
    own = std::move(real);
    return *own;
}

}  // namespace

MailerApp::MailerApp(Clock& clock, std::string configDir, MailTransport* transport, int timeoutMs)
    : clock_(clock),
      configDir_(std::move(configDir)),
      log_(clock, configDir_ + kLogFileName),
      spool_(configDir_, log_),
      tokens_(settings_, clock, configDir_, timeoutMs),
      cycle_(RequestContext{settings_, log_, clock}, statistics_,
             chooseTransport(transport, ownTransport_, network_,
                             MailContext{settings_, log_, statistics_, clock, timeoutMs, &tokens_}),
             spool_) {
    if (network_) {
        idleWatch_ = std::make_unique<ImapIdleWatch>(
            MailContext{settings_, log_, statistics_, clock, timeoutMs, &tokens_});
        cycle_.setNewMailWatch(idleWatch_.get());
    }
}

MailerApp::~MailerApp() = default;

void MailerApp::setTranscript(DialogueTranscript* transcript) {
    if (network_)
        network_->setTranscript(transcript);
    if (idleWatch_)
        idleWatch_->setTranscript(transcript);
    tokens_.setTranscript(transcript);
}

void MailerApp::startUp() {
    statistics_.clear();
    startTime_ = clock_.now();
    lastGoodCheck_ = 0;
    resetSettings(settings_);
    std::vector<std::string> problems;
    bool fileRead = loadSettings(settings_, settingsPath(), &problems);
    applyCredentials(settings_, credentialsDirectory());
    log_.addSecrets(settingsSecrets(settings_));
    log_.logNotice("Program Startup...");
    logSettingsProblems(problems);
    // A drive letter names nothing here; the file keeps it for the system that set it.
    if (settings_.mapDrive != '\0' && settings_.mapDrive != ' ')
        log_.logNotice("MapDrive is set but has no effect on this system");
    loadRecorderSystems();
    // A complete configuration always starts with polling on, whatever the file held; an
    // incomplete one always starts with it off.
    settleMailChecking(fileRead, problems);
    cycle_.reset();
    spool_.open();
    cycle_.resume();
    lastSpoolSweep_ = clock_.now();
    spool_.removeOldEntries(lastSpoolSweep_, keepDays_);
}

void MailerApp::onTick() {
    // The window may have changed a password since the last tick.
    log_.addSecrets(settingsSecrets(settings_));
    constexpr std::int64_t kDay = 86400;
    if (clock_.now() - lastSpoolSweep_ >= kDay) {
        lastSpoolSweep_ = clock_.now();
        spool_.removeOldEntries(lastSpoolSweep_, keepDays_);
    }
    std::int64_t goodChecks = statistics_.goodPopLogins;
    if (idleWatch_ && !singleRun_)
        idleWatch_->onTick();
    cycle_.onTick();
    if (statistics_.goodPopLogins != goodChecks)
        lastGoodCheck_ = clock_.now();
}

void MailerApp::reload() {
    resetSettings(settings_);
    std::vector<std::string> problems;
    bool fileRead = loadSettings(settings_, settingsPath(), &problems);
    applyCredentials(settings_, credentialsDirectory());
    log_.addSecrets(settingsSecrets(settings_));
    log_.logMsg(false,
                "Settings reloaded: tarnwick.ini and the recorder configurations read again");
    logSettingsProblems(problems);
    loadRecorderSystems();
    settleMailChecking(fileRead, problems);
    // Replies held for the settings go out as soon as the new ones are read.
    if (cycle_.heldReplies() > 0)
        cycle_.resendSoon();
}

void MailerApp::settleMailChecking(bool fileRead, const std::vector<std::string>& problems) {
    std::vector<std::string> missing = missingSettings(settings_);
    settings_.popEnable = missing.empty() ? 1 : 0;
    mailCheckOffReason_.clear();
    if (missing.empty())
        return;
    if (!fileRead && !problems.empty()) {
        mailCheckOffReason_ = problems.front();
    } else {
        mailCheckOffReason_ = "not set: ";
        for (std::size_t i = 0; i < missing.size(); ++i)
            mailCheckOffReason_ += (i > 0 ? ", " : "") + missing[i];
    }
    log_.logWarning("Mail checking is off: %s", mailCheckOffReason_.c_str());
}

void MailerApp::logSettingsProblems(const std::vector<std::string>& problems) {
    for (const std::string& problem : problems)
        log_.logMsg(true, "Settings Error: %s", problem.c_str());
}

void MailerApp::loadRecorderSystems() {
    ::loadRecorderSystems(settings_, log_);
}

int MailerApp::exitCode() const {
    if (cycle_.droppedReplies() > 0)
        return kExitReplyGivenUp;
    if (cycle_.heldReplies() > 0)
        return kExitRepliesHeld;
    bool spoolFailed = spool_.failures() > 0 || cycle_.heldLines() > 0;
    if (cycle_.mailCheckFailed())
        return mailFailureExitCode(cycle_.mailCheckError());
    return spoolFailed ? kExitMailCheckFailed : kExitOk;
}
