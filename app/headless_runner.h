#pragma once

#include <cstdint>
#include <iosfwd>

class MailerApp;

// Starts the robot (MailerApp::startUp) and runs it without a window: one onTick per period,
// the activity list printed to out.
// SIGTERM and SIGINT end the run like a confirmed exit (nothing saved) with 0; SIGUSR1 asks for
// a mail check. With once set the mailbox is checked at the first tick and never again (idle
// ticks only pace the resend queue), and the run ends by itself when the robot has nothing
// left to do, with MailerApp::exitCode(). Returns the exit code.
int runHeadless(MailerApp& app, int tickMs, bool once, std::ostream& out);

// The deadline of the tick after the one due at previous, given the monotonic time now (all in
// milliseconds): one period later, or one period from now when that has already passed, so
// missed ticks are not made up.
std::int64_t nextTickDeadline(std::int64_t previous, std::int64_t now, int periodMs);
