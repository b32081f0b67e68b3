#pragma once

class MailerApp;

// Runs the robot with its desktop window: starts the app, shows the main window, whose timer
// runs one tick every tickMs milliseconds, and runs until a confirmed exit (returns 0). A
// display that cannot be opened is one line saying so and that --headless exists, and 2; it
// never lets the toolkit abort the process. The desktop module's entry point runs it
// (app/desktop_loader looks for a display first).
int runDesktop(MailerApp& app, int tickMs, int argc, char** argv);
