#pragma once

#include <string>

// What a run of tarnwick tells the program that started it. A script tells the cases apart by
// number, so a code keeps its meaning once given.
inline constexpr int kExitOk = 0;
inline constexpr int kExitMailCheckFailed = 1;      // the mail check or the spool failed
inline constexpr int kExitReplyGivenUp = 2;         // a reply was given up; also a usage error
inline constexpr int kExitAnotherRobot = 3;         // another Tarnwick uses the config folder
inline constexpr int kExitStoppedWithWorkLeft = 4;  // SIGTERM or SIGINT with work left
inline constexpr int kExitSettingsError = 5;        // the settings or their folder are unusable
inline constexpr int kExitConnectionError = 6;      // a mail server could not be reached
inline constexpr int kExitLoginError = 7;           // a mail server refused the login
inline constexpr int kExitRepliesHeld = 8;          // replies held by a station-side SMTP fault

// The code of a failed mail dialogue, from its error text's first words (which stay as they
// are, so watchers match them): a server not reached, a login refused, else a failure.
inline int mailFailureExitCode(const std::string& error) {
    auto has = [&error](const char* words) { return error.find(words) != std::string::npos; };
    if (error.rfind("POP Enable Error", 0) == 0)
        return kExitSettingsError;
    if (error.rfind("POP Connect Error", 0) == 0 || error.rfind("IMAP Connect Error", 0) == 0 ||
        error.rfind("Can't connect", 0) == 0)
        return kExitConnectionError;
    if (has("Login") || has("authentication") || has("OAuth2") || has("token"))
        return kExitLoginError;
    return kExitMailCheckFailed;
}
