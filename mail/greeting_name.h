#pragma once

#include <string>

struct MailerSettings;

// The name the SMTP greeting (EHLO or HELO) gives, which servers want fully qualified (Postfix's
// reject_non_fqdn_helo_hostname refuses a bare one): HeloName= when set; else the host's fully
// qualified name when it has one (a name with a dot, looked up once a run); else the domain of
// FromUser's address; else the bare host name.
std::string greetingName(const MailerSettings& settings);

// The same choice from its parts: the HeloName setting, the host name and its canonical name
// as the resolver gives it ("" when none), the FromUser setting.
std::string greetingName(const std::string& heloName, const std::string& hostName,
                         const std::string& canonicalName, const std::string& fromUser);
