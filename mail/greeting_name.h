#pragma once

#include <string>

struct MailerSettings;

// The name the robot greets an SMTP server with (EHLO or HELO): a fully qualified name, as
// servers that refuse a bare host name ask. In order: the settings' HeloName when set (and
// printable ASCII without blanks); the
// host's own name when it holds a dot; the host's canonical name from the resolver when that
// does; the domain of FromUser; the bare host name as the last resort.
std::string greetingName(const std::string& heloName, const std::string& hostName,
                         const std::string& canonicalName, const std::string& fromUser);

// greetingName for these settings and this host (gethostname, then getaddrinfo with
// AI_CANONNAME only when the host name is bare). Empty when the host has no name and nothing
// else gives one.
std::string greetingName(const MailerSettings& settings);
