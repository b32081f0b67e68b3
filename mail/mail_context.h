#pragma once

class ActivityLog;
class Clock;
struct MailerSettings;
struct Statistics;

// What the mail dialogues work with: the settings they read (POP account), the log their
// failures go to, the counters they raise (bytesSent), the clock of the Date header, and the
// wait for every socket read and write.
struct MailContext {
    const MailerSettings& settings;
    ActivityLog& log;
    Statistics& statistics;
    Clock& clock;
    int timeoutMs = 30000;
};
