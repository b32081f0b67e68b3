#include "app/mailer_app.h"

MailerApp::MailerApp(Clock& clock, std::string configDir)
    : clock_(clock), configDir_(std::move(configDir)), log_(clock, configDir_ + kLogFileName) {}

void MailerApp::startUp() {
    statistics_.clear();
    resetSettings(settings_);
    loadSettings(settings_, settingsPath());
    log_.logMsg(true, "Program Startup...");
    // A complete configuration always starts with polling on, whatever the file held; an
    // incomplete one always starts with it off.
    settings_.popEnable = settingsComplete(settings_) ? 1 : 0;
}

void MailerApp::onTick() {}

void MailerApp::requestCheckNow() { checkNowRequested_ = true; }

void MailerApp::loadRecorderSystems() {}
