#pragma once

#include <string>

class MailerApp;

// The desktop window's code (the Qt toolkit and everything it loads) is a module of its own,
// tarnwick-desktop.so, loaded only when the window runs, so that --once, --headless and --check
// start without it (platform/program_module finds it).
inline constexpr const char* kDesktopModuleName = "tarnwick-desktop.so";

// Runs the robot with its desktop window (runDesktop in the module). Without a display it
// prints one line saying so and that --headless exists, and returns 2, the module not loaded;
// without the module, or with one that cannot be loaded, likewise.
int runDesktopWindow(MailerApp& app, int tickMs, int argc, char** argv);

// True when a display can be looked for: DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM is set
// and not empty.
bool displayConfigured();

