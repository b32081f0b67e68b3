#pragma once

#include <string>

#include "app/check_now_control.h"
#include "settings/activity_log.h"
#include "settings/mailer_settings.h"
#include "settings/statistics.h"

class Clock;

// The composition root: owns the settings, the activity log and the statistics of one run and
// hands references to them down. The desktop window and the headless runner drive it.
class MailerApp {
public:
    // configDir holds "tarnwick.ini" and "tarnwick.log"; it ends in '/' or is empty (names
    // then stand alone, relative to the working directory).
    MailerApp(Clock& clock, std::string configDir);

    MailerApp(const MailerApp&) = delete;
    MailerApp& operator=(const MailerApp&) = delete;

    // The start of a run: counters zeroed, settings reset and loaded (the file is created when
    // missing), "Program Startup..." logged, and polling forced on when the settings are
    // complete and off when not. Checks no mail.
    void startUp();

    // One tick of the one-second timer.
    void onTick();

    // "Check Now": the check runs at a later tick, once no request is being served.
    void requestCheckNow();

    // Reads both recorder systems' configuration again ("&Update", "&Save").
    void loadRecorderSystems();

    // The "Check Now" button to enable and disable; nullptr when there is none.
    void setCheckNowControl(CheckNowControl* control) { checkNowControl_ = control; }

    Clock& clock() { return clock_; }
    MailerSettings& settings() { return settings_; }
    ActivityLog& log() { return log_; }
    Statistics& statistics() { return statistics_; }
    const std::string& configDir() const { return configDir_; }
    std::string settingsPath() const { return configDir_ + kSettingsFileName; }

private:
    Clock& clock_;
    std::string configDir_;
    MailerSettings settings_;
    ActivityLog log_;
    Statistics statistics_;
    CheckNowControl* checkNowControl_ = nullptr;
    bool checkNowRequested_ = false;
};
