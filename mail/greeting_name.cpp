#include "mail/greeting_name.h"

#include <netdb.h>
#include <unistd.h>

#include "settings/mailer_settings.h"

namespace {

bool isQualified(const std::string& name) {
    const std::size_t dot = name.find('.');
    return dot != std::string::npos && dot > 0 && dot + 1 < name.size();
}

// The domain of an address such as "Robot <robot@anmo.example>": what follows the last "@",
// up to a closing ">" or a blank.
std::string addressDomain(const std::string& address) {
    const std::size_t at = address.rfind('@');
    if (at == std::string::npos)
        return {};
    const std::string domain = address.substr(at + 1, address.find_first_of("> \t", at) - at - 1);
    return isQualified(domain) ? domain : std::string();
}

// A name that can stand in a command line: printable ASCII without blanks.
bool isPlainName(const std::string& name) {
    if (name.empty())
        return false;
    for (char c : name)
        if (c <= ' ' || c >= 0x7f)
            return false;
    return true;
}

std::string canonicalNameOf(const std::string& host) {
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* answer = nullptr;
    std::string name;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &answer) == 0 && answer &&
        answer->ai_canonname)
        name = answer->ai_canonname;
    if (answer)
        freeaddrinfo(answer);
    return name;
}

}  // namespace

std::string greetingName(const std::string& heloName, const std::string& hostName,
                         const std::string& canonicalName, const std::string& fromUser) {
    if (isPlainName(heloName))
        return heloName;
    if (isQualified(hostName))
        return hostName;
    if (isQualified(canonicalName))
        return canonicalName;
    const std::string domain = addressDomain(fromUser);
    return domain.empty() ? hostName : domain;
}

std::string greetingName(const MailerSettings& settings) {
    char name[257] = {};
    if (gethostname(name, 256) != 0)
        name[0] = '\0';
    const std::string host = name;
    const std::string canonical = host.empty() || isQualified(host) ? "" : canonicalNameOf(host);
    return greetingName(settings.heloName, host, canonical, settings.fromUser.str());
}
