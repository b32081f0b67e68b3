#pragma once

#include <string>

// Tells the service manager what the robot is doing (sd_notify). Outside a Type=notify
// service ($NOTIFY_SOCKET unset) every call does nothing. Failures to notify are ignored: the
// robot runs on either way.
class ServiceNotifier {
  public:
    // Start-up is done and the robot serves (also the end of a reload), with a one-line
    // status for "systemctl status".
    void ready(const std::string& status);
    // A reload was asked for; ready() follows once it is done.
    void reloading();
    // The robot is on its way out.
    void stopping();
    // A one-line status for "systemctl status".
    void status(const std::string& text);
};

// True when stdout is connected to the journal: $JOURNAL_STREAM names the device and inode
// of the stream that stdout is.
bool stdoutIsJournal();
