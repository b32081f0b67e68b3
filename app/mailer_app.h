#pragma once

#include <string>

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
};
