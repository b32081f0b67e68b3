#pragma once

class ActivityLog;
class Clock;
struct MailerSettings;

// What the request handling works with: the settings (directories, the two recorder systems),
// the log, and the clock (request file names, the pauses between response-file opens).
struct RequestContext {
    MailerSettings& settings;
    ActivityLog& log;
    Clock& clock;
};
