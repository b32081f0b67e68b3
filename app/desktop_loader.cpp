#include "app/desktop_loader.h"

#include <cstdio>
#include <cstdlib>

#include "platform/program_module.h"

namespace {

const char kNoDisplay[] =
    "tarnwick: the desktop window needs a display (set DISPLAY or WAYLAND_DISPLAY); run "
    "tarnwick --headless to run without a window\n";
const char kNoWindow[] =
    "tarnwick: this build has no desktop window; run it with --headless or --once\n";

// The module's one entry point (app/desktop_module.cpp).
using RunDesktop = int (*)(MailerApp*, int, int, char**);
const char kEntryPoint[] = "tarnwick_run_desktop";

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

}  // namespace

bool displayConfigured() {
    return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("QT_QPA_PLATFORM");
}

int runDesktopWindow(MailerApp& app, int tickMs, int argc, char** argv) {
    if (!displayConfigured()) {
        std::fputs(kNoDisplay, stderr);
        return 2;
    }
    if (!programModuleInstalled(kDesktopModuleName)) {
        std::fputs(kNoWindow, stderr);
        return 2;
    }
    std::string error;
    void* module = loadProgramModule(kDesktopModuleName, error);
    auto run = module ? reinterpret_cast<RunDesktop>(moduleEntry(module, kEntryPoint, error))
                      : nullptr;
    if (!run) {
        std::fprintf(stderr, "tarnwick: the desktop window cannot be loaded: %s\n", error.c_str());
        return 2;
    }
    // The module stays loaded: the toolkit's exit handlers run at the process's end.
    return run(&app, tickMs, argc, argv);
}
