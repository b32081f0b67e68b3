#pragma once

#include <string>

#include "settings/mailer_settings.h"

// The settings that follow the 17 lines of tarnwick.ini (TARNWICK_OPTIONAL_KEYS in
// settings/mailer_settings.h). Each is written only when it is set, so a file of defaults keeps
// its 17 lines; loading and saving keep every one of them.
struct OptionalKey {
    const char* name;  // the key in the file
    std::string MailerSettings::*field;
    bool hex;           // stored in hexadecimal, as the passwords (a secret)
    const char* words;  // the values it takes, "a|b" (any letter case); nullptr: any text
};

#define TARNWICK_TABLE_ROW(field, key, hex, words) {key, &MailerSettings::field, hex, words},
inline constexpr OptionalKey kOptionalKeys[] = {TARNWICK_OPTIONAL_KEYS(TARNWICK_TABLE_ROW)};
#undef TARNWICK_TABLE_ROW

// Stores value under the optional key, when it is one: true then, whether or not the value
// was taken. A value that is not one of the key's words is not taken; problem says why.
bool storeOptionalKey(MailerSettings& settings, const std::string& key, const std::string& value,
                      std::string& problem);

// The "Key=value" lines of the optional keys that are set, in the table's order.
std::string optionalKeyLines(const MailerSettings& settings);
