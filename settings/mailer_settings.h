#pragma once

#include <string>

#include "requests/recorder_system.h"
#include "settings/fixed_text.h"

// Every user setting of the robot, and the two recorder configurations read beside them.
// Texts hold at most 255 characters (tempDir 244); passwords are plain in memory and
// hexadecimal in the settings file.
struct MailerSettings {
    FixedText<256> popServer;
    FixedText<256> popUser;
    FixedText<256> popPassword;
    FixedText<256> smtpServer;
    FixedText<245> tempDir;
    FixedText<256> mornakDir;
    FixedText<256> mornakReq;
    FixedText<256> mornak2Dir;
    FixedText<256> mornak2Req;
    FixedText<256> fromUser;
    char mapDrive = 0;  // 0 = no letter
    FixedText<256> smtpUser;
    FixedText<256> smtpPassword;
    FixedText<256> stationName;
    int popCheckTime = 2;  // minutes
    int popEnable = 0;
    int smtpAuth = 0;  // 0 "No Authentication", any other value AUTH LOGIN

    // Rebuilt from the recorder's own files, never stored in the settings file.
    RecorderSystem firstSystem;
    RecorderSystem secondSystem;
};

// Sets the whole record, recorder systems included, to zero, then popCheckTime to 2.
void resetSettings(MailerSettings& settings);

// Reads the settings file at path into the record. When the file cannot be opened for
// reading, writes one from the record's current values instead (saveSettings).
void loadSettings(MailerSettings& settings, const std::string& path);

// Writes the 17 lines of the settings file. A new file is created readable by its owner
// only, since it holds the passwords. A failure is silent; returns false then.
bool saveSettings(const MailerSettings& settings, const std::string& path);

// Each byte as two lower-case hexadecimal digits. The text is cut to 127 bytes first so the
// result fits 254 digits.
std::string encodeKeyStr(const std::string& text);

// Two characters a byte. A pair that begins with a non-hex character is skipped; a hex digit
// followed by another character gives the value of that one digit; a lone last character is
// ignored. The result holds at most 255 bytes.
std::string decodeKeyStr(const std::string& text);

// True when mail checking may be switched on: POP server, user and password, a check interval
// of 1 to 60 minutes, the station name, the SMTP server, the temporary directory, the sender
// and the first system's two directories are all set.
bool settingsComplete(const MailerSettings& settings);

// The name of the settings file inside the configuration directory.
inline constexpr const char* kSettingsFileName = "tarnwick.ini";
