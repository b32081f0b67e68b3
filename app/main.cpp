#include <iostream>
#include <string>
#include <vector>

#include "accounts/device_authorization.h"
#include "accounts/secrets.h"
#include "accounts/set_password.h"
#include "app/check_command.h"
#include "app/command_line.h"
#include "app/exit_codes.h"
#include "app/desktop_loader.h"
#include "app/folder_ownership.h"
#include "app/headless_runner.h"
#include "app/instance_lock.h"
#include "app/mailer_app.h"
#include "app/transcript_printer.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "settings/text_routines.h"

int main(int argc, char** argv) {
    CommandLine cl = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (cl.mode) {
        case CommandLine::Mode::Error:
            std::cerr << "tarnwick: " << cl.error << "\n" << usageText();
            return 2;
        case CommandLine::Mode::Help:
            std::cout << usageText();
            return 0;
        case CommandLine::Mode::Version:
            std::cout << "tarnwick 1.0\n";
            return 0;
        default:
            break;
    }
    std::string configDir = cl.configDir.empty() ? defaultConfigDir() : cl.configDir;
    if (configDir.empty()) {
        std::cerr << "tarnwick: no home folder to keep the settings in: give --config-dir\n";
        return kExitSettingsError;
    }
    addTrailingSlash(configDir);
    // An installed program's own folder is made at first use; --check only reads.
    std::string problem;
    if (cl.configDir.empty() && configDir != executableDir() &&
        cl.mode != CommandLine::Mode::Check && !makePrivateDirs(configDir, problem)) {
        std::cerr << "tarnwick: " << problem << "\n";
        return kExitSettingsError;
    }

    SystemClock clock;
    if (cl.mode == CommandLine::Mode::Check)
        return runCheck(clock, configDir, std::cout, 30000, cl.verbose ? &std::cerr : nullptr);
    if (cl.mode == CommandLine::Mode::SetPassword)
        return runSetPassword(configDir, cl.secretName, 0, std::cout);
    if (cl.mode == CommandLine::Mode::Authorize) {
        MailerSettings settings;
        resetSettings(settings);
        loadSettings(settings, configDir + kSettingsFileName);
        applyCredentials(settings, credentialsDirectory());
        return runAuthorize(settings, clock, configDir, std::cout, 30000);
    }
    if (!checkConfigFolder(configDir, problem)) {
        std::cerr << "tarnwick: " << problem << "\n";
        return 2;
    }
    // One robot per config folder, for the whole run.
    InstanceLock lock;
    switch (lock.take(configDir, problem)) {
        case InstanceLock::Result::kTaken:
            break;
        case InstanceLock::Result::kHeld:
            std::cerr << "tarnwick: " << problem << "\n";
            return 3;
        case InstanceLock::Result::kFailed:
            std::cerr << "tarnwick: " << problem << "\n";
            return 2;
    }
    MailerApp app(clock, configDir);
    app.cycle().setLimits(cl.maxLinesPerMail, cl.maxRecipients);
    app.setKeepDays(cl.keepDays);
    if (cl.mode == CommandLine::Mode::Desktop)
        return runDesktopWindow(app, cl.tickMs, argc, argv);
    TranscriptPrinter transcript(std::cerr, app.log().secrets());
    if (cl.verbose)
        app.setTranscript(&transcript);
    HeadlessOptions options;
    options.tickMs = cl.tickMs;
    options.once = cl.mode == CommandLine::Mode::Once;
    options.levelPrefix = cl.levelPrefix;
    options.metricsFile = cl.metricsFile;
    return runHeadless(app, options, std::cout);
}
