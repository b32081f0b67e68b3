#pragma once

#include <iosfwd>
#include <string>

class Clock;

// "tarnwick --check": tests what a run needs, one line per step on out, "ok    what" or
// "FAIL  what: why":
//   settings              the settings file read and complete (a MapDrive letter is noted);
//                         "warn" lines for each key it does not know and for a file that
//                         group or others can read (with the chmod that mends it), which do
//                         not fail the check; then the settings in effect (credentials
//                         applied), one "Key=value" line each, secrets as "***"
//   recorder systems      each configured system's mornak.ini read, with its channel IDs
//   folders               the request folders and the temporary folder usable (read, write)
//   OAuth2 token          for an OAuth2 login: "OAuth2 token from HOST: expires in N s", or
//                         the token command's result
//   POP3                  login (and its mechanism) and STAT: nothing retrieved or deleted
//   SMTP                  greeting, AUTH when the settings ask for it (and its mechanism),
//                         QUIT: nothing is sent
// Writes nothing: the settings file, the log file and the spool stay as they are, so it may
// run beside the robot, except that a refresh token the server replaces is kept. No password,
// token or secret appears in the output. timeoutMs is the wait for every
// socket read and write. With dialogue set, the mail dialogues and the OAuth2 token steps are
// shown there as TranscriptPrinter prints them, their secrets masked. Returns 0 when every
// step passed, else the exit code of the first step that failed: kExitSettingsError for the
// settings, recorder systems and folders, kExitConnectionError for a server not reached,
// kExitLoginError for a login or token refused, kExitMailCheckFailed for any other failure.
int runCheck(Clock& clock, const std::string& configDir, std::ostream& out, int timeoutMs = 30000,
             std::ostream* dialogue = nullptr);
