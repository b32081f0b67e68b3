#pragma once

#include <string>

#include "settings/mailer_settings.h"

// The settings that follow the 17 lines of tarnwick.ini. Each is written only when it is set,
// so a file of defaults keeps its 17 lines; loading and saving keep every one of them.
struct OptionalKey {
    const char* name;  // the key in the file
    std::string MailerSettings::*field;
    bool hex;           // stored in hexadecimal, as the passwords (a secret)
    const char* words;  // the values it takes, "a|b" (any letter case); nullptr: any text
};

inline constexpr OptionalKey kOptionalKeys[] = {
    {"PopAuthMethod", &MailerSettings::popAuthMethod, false, "password|oauth2"},
    {"SmtpAuthMethod", &MailerSettings::smtpAuthMethod, false, "password|oauth2"},
    {"OAuth2TokenUrl", &MailerSettings::oauth2TokenUrl, false, nullptr},
    {"OAuth2DeviceUrl", &MailerSettings::oauth2DeviceUrl, false, nullptr},
    {"OAuth2ClientId", &MailerSettings::oauth2ClientId, false, nullptr},
    {"OAuth2ClientSecretStr", &MailerSettings::oauth2ClientSecret, true, nullptr},
    {"OAuth2Scope", &MailerSettings::oauth2Scope, false, nullptr},
    {"OAuth2Grant", &MailerSettings::oauth2Grant, false, "client_credentials|refresh_token"},
    {"PopTokenCommand", &MailerSettings::popTokenCommand, false, nullptr},
    {"SmtpTokenCommand", &MailerSettings::smtpTokenCommand, false, nullptr},
};

// Stores value under the optional key, when it is one: true then, whether or not the value
// was taken. A value that is not one of the key's words is not taken; problem says why.
bool storeOptionalKey(MailerSettings& settings, const std::string& key, const std::string& value,
                      std::string& problem);

// The "Key=value" lines of the optional keys that are set, in the table's order.
std::string optionalKeyLines(const MailerSettings& settings);
