#pragma once

#include "app/exit_codes.h"

#include <cstdint>
#include <iosfwd>
#include <string>

class MailerApp;

// How a run without a window goes.
struct HeadlessOptions {
    int tickMs = 1000;
    bool once = false;         // a single run (--once)
    bool levelPrefix = false;  // "<3>"/"<6>" before each list line even when stdout is no journal
    std::string metricsFile;   // empty: none
};

// Starts the robot (MailerApp::startUp) and runs it without a window: one onTick per period,
// the activity list printed to out. When stdout is the journal, or levelPrefix is set, each
// line begins with its syslog level: "<3>" for an entry that also went to the log file, "<6>"
// for the rest.
// SIGTERM and SIGINT end the run like a confirmed exit, with 0, or with 4
// (kExitStoppedWithWorkLeft) when work was left: a line waiting or held, a response awaited, a
// check asked for or a reply queued (the spool keeps it for the next run); SIGUSR1 asks for
// a mail check; SIGHUP reads the settings and the recorder configurations again between two
// ticks, once no request waits for the recorder's answer. The service manager is told when the
// robot is ready, reloading and stopping (sd_notify). With a metrics file, the file is written
// at start and after every tick or reload that changed what it shows, and at the end with
// tarnwick_up 0: it stays. The status shown by "systemctl status" says how often mail is
// checked, or "Mail checking is off: REASON". With once set the mailbox
// is checked at the first tick and never again (idle ticks only pace the resend queue), and the
// run ends by itself when the robot has nothing left to do, with MailerApp::exitCode(). Returns
// the exit code.
int runHeadless(MailerApp& app, const HeadlessOptions& options, std::ostream& out);

// The same with the default options but the tick and the single run.
int runHeadless(MailerApp& app, int tickMs, bool once, std::ostream& out);

// The deadline of the tick after the one due at previous, given the monotonic time now (all in
// milliseconds): one period later, or one period from now when that has already passed, so
// missed ticks are not made up.
std::int64_t nextTickDeadline(std::int64_t previous, std::int64_t now, int periodMs);
