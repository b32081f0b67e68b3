#pragma once

class AccessTokenSource;
class ActivityLog;
class Clock;
class DialogueTranscript;
struct MailerSettings;
struct Statistics;

// What the mail dialogues work with: the settings they read (both accounts, as they stand at
// the moment of each dialogue), the log their failures go to, the counters they raise
// (bytesSent), the clock of the Date header, the wait for every socket read and write, and
// where an OAuth2 login takes its access token (nullptr: none set up), and where the dialogues
// are shown (nullptr: nowhere, the default).
struct MailContext {
    const MailerSettings& settings;
    ActivityLog& log;
    Statistics& statistics;
    Clock& clock;
    int timeoutMs = 30000;
    AccessTokenSource* tokens = nullptr;
    DialogueTranscript* transcript = nullptr;
};
