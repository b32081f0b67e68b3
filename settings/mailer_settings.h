#pragma once

#include <string>
#include <vector>

#include "requests/recorder_system.h"
#include "settings/fixed_text.h"

// A password holds at most this many characters.
inline constexpr std::size_t kPasswordChars = 1023;
using PasswordText = FixedText<kPasswordChars + 1>;

// The settings that may follow the 17 lines of tarnwick.ini, each written only when it is set:
// the record's field, the key in the file, whether it is stored in hexadecimal (a secret, as
// the passwords), and the words it takes ("a|b", any letter case; nullptr: any text). Adding
// a key is one line here; the record, the file and the desktop's Save then carry it.
#define TARNWICK_OPTIONAL_KEYS(KEY)                                                          \
    KEY(popAuthMethod, "PopAuthMethod", false, "password|oauth2")                          \
    KEY(smtpAuthMethod, "SmtpAuthMethod", false, "password|oauth2")                        \
    KEY(oauth2TokenUrl, "OAuth2TokenUrl", false, nullptr)     /* the token endpoint */     \
    KEY(oauth2DeviceUrl, "OAuth2DeviceUrl", false, nullptr)   /* for --authorize */        \
    KEY(oauth2ClientId, "OAuth2ClientId", false, nullptr)                                  \
    KEY(oauth2ClientSecret, "OAuth2ClientSecretStr", true, nullptr)                        \
    KEY(oauth2Scope, "OAuth2Scope", false, nullptr)                                        \
    KEY(oauth2Grant, "OAuth2Grant", false, "client_credentials|refresh_token")             \
    KEY(popTokenCommand, "PopTokenCommand", false, nullptr)   /* prints an access token */ \
    KEY(smtpTokenCommand, "SmtpTokenCommand", false, nullptr)                              \
    KEY(imapDoneFolder, "ImapDoneFolder", false, nullptr) /* answered IMAP mail goes here */ \
    KEY(heloName, "HeloName", false, nullptr) /* the SMTP greeting's name, if not the host's */

// What imapDoneFolder holds when the file sets ImapDoneFolder= with no folder (each handled
// mail is then deleted), so that the key is written back as it stood.
inline constexpr const char* kNoDoneFolder = "\x7f";

// Every user setting of the robot, and the two recorder configurations read beside them.
// Texts hold at most 255 characters (tempDir 244, passwords 1023); passwords are plain in
// memory and hexadecimal in the settings file.
struct MailerSettings {
    FixedText<256> popServer;
    FixedText<256> popUser;
    PasswordText popPassword;
    FixedText<256> smtpServer;
    FixedText<245> tempDir;
    FixedText<256> mornakDir;
    FixedText<256> mornakReq;
    FixedText<256> mornak2Dir;
    FixedText<256> mornak2Req;
    FixedText<256> fromUser;
    char mapDrive = 0;  // 0 = no letter
    FixedText<256> smtpUser;
    PasswordText smtpPassword;
    FixedText<256> stationName;
    int popCheckTime = 2;  // minutes
    int popEnable = 0;
    int smtpAuth = 0;  // 0 "No Authentication", any other value AUTH LOGIN

    // The optional keys, empty when the file does not set them.
#define TARNWICK_DECLARE_FIELD(field, key, hex, words) std::string field;
    TARNWICK_OPTIONAL_KEYS(TARNWICK_DECLARE_FIELD)
#undef TARNWICK_DECLARE_FIELD

    // Rebuilt from the recorder's own files, never stored in the settings file.
    RecorderSystem firstSystem;
    RecorderSystem secondSystem;
};

// Sets the whole record, recorder systems included, to zero, then popCheckTime to 2.
void resetSettings(MailerSettings& settings);

// Reads the settings file at path into the record, each line whole whatever its length. A
// value that its field cannot take (longer than the field holds, or not one of a key's
// words) leaves the field as it was and adds a text naming the key to problems (if given).
// When there is no file, writes one from the record's current values instead (saveSettings)
// and returns true. A file that is there but cannot be read (no permission, a link, not a
// regular file) is left as it is, with the record: returns false, "PATH cannot be read:
// REASON" the first of problems. A key the record does not know is ignored; unknownKeys (if
// given) gets each such key as the file spells it.
bool loadSettings(MailerSettings& settings, const std::string& path,
                  std::vector<std::string>* problems = nullptr,
                  std::vector<std::string>* unknownKeys = nullptr);

// The text of the settings file for the record, as saveSettings writes it: the 17 lines, then
// each optional key that is set.
std::string settingsText(const MailerSettings& settings);

// Writes the 17 lines of the settings file, then each optional key that is set. The file is
// written to a temporary name, synced and renamed into place, readable by its owner only,
// since it holds the passwords. A failure is silent and leaves the old file; returns false.
bool saveSettings(const MailerSettings& settings, const std::string& path);

// Each byte as two lower-case hexadecimal digits.
std::string encodeKeyStr(const std::string& text);

// Two characters a byte. A pair that begins with a non-hex character is skipped; a hex digit
// followed by another character gives the value of that one digit; a lone last character is
// ignored.
std::string decodeKeyStr(const std::string& text);

// Whether the account logs in with an OAuth2 access token (its method is "oauth2").
bool popUsesOAuth2(const MailerSettings& settings);
bool smtpUsesOAuth2(const MailerSettings& settings);

// True when mail checking may be switched on: POP server, user and password (no password for
// an OAuth2 login), a check interval of 1 to 60 minutes, the station name, the SMTP server,
// the temporary directory, the sender and the first system's two directories are all set.
bool settingsComplete(const MailerSettings& settings);

// The settings that settingsComplete asks for and the record leaves empty or out of range, by
// their keys ("PopCheckTime (1 to 60)" for the interval); none when it is complete.
std::vector<std::string> missingSettings(const MailerSettings& settings);

// The name of the settings file inside the configuration directory.
inline constexpr const char* kSettingsFileName = "tarnwick.ini";
