#include "mail/greeting_name.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>

#include "settings/mailer_settings.h"

namespace {

struct HostNames {
    std::string name;
    std::string canonical;
};

// The host name and its canonical name, looked up once: the resolver may be slow or absent.
const HostNames& hostNames() {
    static const HostNames names = [] {
        HostNames found;
        char name[257] = {};
        if (gethostname(name, sizeof name - 1) != 0)
            return found;
        found.name = name;
        addrinfo hints{};
        hints.ai_flags = AI_CANONNAME;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        if (getaddrinfo(name, nullptr, &hints, &list) == 0 && list) {
            if (list->ai_canonname)
                found.canonical = list->ai_canonname;
            freeaddrinfo(list);
        }
        return found;
    }();
    return names;
}

bool dotted(const std::string& name) {
    std::size_t dot = name.find('.');
    return dot != std::string::npos && dot > 0 && dot + 1 < name.size();
}

// The domain of the address in angle brackets (or of the whole text, without them).
std::string addressDomain(const std::string& fromUser) {
    std::size_t open = fromUser.find('<');
    std::size_t close = fromUser.find('>', open == std::string::npos ? 0 : open);
    std::string address = open == std::string::npos
                              ? fromUser
                              : fromUser.substr(open + 1, close == std::string::npos
                                                              ? std::string::npos
                                                              : close - open - 1);
    std::size_t at = address.rfind('@');
    if (at == std::string::npos)
        return {};
    std::string domain = address.substr(at + 1);
    for (char c : domain)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-'))
            return {};
    return dotted(domain) ? domain : std::string();
}

}  // namespace

std::string greetingName(const std::string& heloName, const std::string& hostName,
                         const std::string& canonicalName, const std::string& fromUser) {
    if (!heloName.empty())
        return heloName;
    if (dotted(canonicalName))
        return canonicalName;
    if (dotted(hostName))
        return hostName;
    std::string domain = addressDomain(fromUser);
    return domain.empty() ? hostName : domain;
}

std::string greetingName(const MailerSettings& settings) {
    const HostNames& host = hostNames();
    return greetingName(settings.heloName, host.name, host.canonical, settings.fromUser.str());
}
