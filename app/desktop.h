#pragma once

class MailerApp;

// Runs the robot with its desktop window: starts the app, shows the main window, whose timer
// runs one tick every tickMs milliseconds, and runs until a confirmed exit (returns 0). Without
// a display it prints one line saying so and that --headless exists, and returns 2; it never
// lets the toolkit abort the process.
int runDesktop(MailerApp& app, int tickMs, int argc, char** argv);

// True when a display can be looked for: DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM is set
// and not empty.
bool displayConfigured();
