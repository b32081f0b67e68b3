#include "app/desktop_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "platform/paths.h"

#ifndef TARNWICK_DESKTOP_MODULE_DIR
#define TARNWICK_DESKTOP_MODULE_DIR ""
#endif

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

std::string desktopModulePath(const std::string& exeDir, const std::string& moduleDir) {
    std::string beside = exeDir + kDesktopModuleName;
    if (!exeDir.empty() && ::access(beside.c_str(), F_OK) == 0)
        return beside;
    return moduleDir.empty() ? std::string() : moduleDir + "/" + kDesktopModuleName;
}

int runDesktopWindow(MailerApp& app, int tickMs, int argc, char** argv) {
    if (!displayConfigured()) {
        std::fputs(kNoDisplay, stderr);
        return 2;
    }
    std::string path = desktopModulePath(executableDir(), TARNWICK_DESKTOP_MODULE_DIR);
    if (path.empty() || ::access(path.c_str(), F_OK) != 0) {
        std::fputs(kNoWindow, stderr);
        return 2;
    }
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto run = module ? reinterpret_cast<RunDesktop>(::dlsym(module, kEntryPoint)) : nullptr;
    if (!run) {
        std::fprintf(stderr, "tarnwick: the desktop window cannot be loaded: %s\n", ::dlerror());
        return 2;
    }
    // The module stays loaded: the toolkit's exit handlers run at the process's end.
    return run(&app, tickMs, argc, argv);
}
