#pragma once

#include <string>

struct MailerSettings;

// Where the robot's secrets may live besides tarnwick.ini: the OAuth2 refresh token in a file of
// its own beside the settings, and systemd's credentials ($CREDENTIALS_DIRECTORY), which take
// the place of what the files hold.

// The file of the refresh token in the configuration directory: the token alone, mode 0600.
inline constexpr const char* kRefreshTokenFile = "oauth2-refresh-token";

// The credential names under $CREDENTIALS_DIRECTORY.
inline constexpr const char* kPopPasswordCredential = "pop-password";
inline constexpr const char* kSmtpPasswordCredential = "smtp-password";
inline constexpr const char* kClientSecretCredential = "oauth2-client-secret";
inline constexpr const char* kRefreshTokenCredential = "oauth2-refresh-token";

// The credentials directory systemd gave the service; "" when there is none.
std::string credentialsDirectory();

// Reads a secret file whole (at most 64 KiB); one line end after it (LF or CR LF) is not part
// of it. False when the file cannot be read.
bool readSecretFile(const std::string& path, std::string& secret);

// Puts the passwords and the client secret found among the credentials (if dir is not "") in
// the place of the settings file's.
void applyCredentials(MailerSettings& settings, const std::string& dir);

// The refresh token: the credential when there is one, else the file in configDir. False with
// the reason in error when there is neither.
bool readRefreshToken(const std::string& configDir, const std::string& credentialsDir,
                      std::string& token, std::string& error);

// Writes the refresh token to its file in configDir durably, mode 0600. False with the reason
// in error.
bool saveRefreshToken(const std::string& configDir, const std::string& token, std::string& error);
