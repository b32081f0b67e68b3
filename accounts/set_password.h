#pragma once

#include <ostream>
#include <string>

// "tarnwick --set-password pop|smtp|oauth2-client-secret": reads one line from inputFd (without
// echo when it is a terminal, after a prompt; a trailing CR LF or LF is not part of it) and
// writes it, in hexadecimal, as PopKeyStr, SmtpKeyStr or OAuth2ClientSecretStr of the settings
// file in configDir, durably; every other setting stays as it was. Refuses, changing nothing,
// an empty line, a password longer than a password holds, and a settings file with a value
// that cannot be read (saving it would lose that value). Returns 0 when written, 1 when not;
// out says which, never with the secret.
int runSetPassword(const std::string& configDir, const std::string& which, int inputFd,
                   std::ostream& out);

// Whether which names a secret runSetPassword knows.
bool isSecretName(const std::string& which);
