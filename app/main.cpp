#include <iostream>
#include <string>
#include <vector>

#include "app/command_line.h"
#ifdef TARNWICK_HAVE_GUI
#include "app/desktop.h"
#endif
#include "app/headless_runner.h"
#include "app/mailer_app.h"
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
    std::string configDir = cl.configDir.empty() ? executableDir() : cl.configDir;
    addTrailingSlash(configDir);

    SystemClock clock;
    MailerApp app(clock, configDir);
    if (cl.mode == CommandLine::Mode::Desktop) {
#ifdef TARNWICK_HAVE_GUI
        return runDesktop(app, argc, argv);
#else
        std::cerr << "tarnwick: this build has no desktop window; run it with --headless or "
                     "--once\n";
        return 2;
#endif
    }
    return runHeadless(app, cl.tickMs, cl.mode == CommandLine::Mode::Once, std::cout);
}
