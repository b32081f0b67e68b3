#include "mail/imap_address.h"

#include "mail/connection.h"
#include "settings/text_routines.h"

namespace {

struct ImapScheme {
    const char* name;
    TlsMode tls;
    const char* port;
};

constexpr ImapScheme kImapSchemes[] = {
    {"imaps", TlsMode::kImplicit, "993"},
    {"imap+starttls", TlsMode::kStartTls, "143"},
    {"imap", TlsMode::kPlain, "143"},
};

const ImapScheme* schemeOf(const std::string& setting) {
    std::size_t mark = setting.find("://");
    if (mark == std::string::npos)
        return nullptr;
    std::string scheme = toLowerAscii(setting.substr(0, mark));
    for (const ImapScheme& known : kImapSchemes)
        if (scheme == known.name)
            return &known;
    return nullptr;
}

}  // namespace

bool isImapSetting(const std::string& setting) {
    return schemeOf(setting) != nullptr;
}

bool parseImapSetting(const std::string& setting, ImapAddress& out) {
    out = ImapAddress{};
    const ImapScheme* scheme = schemeOf(setting);
    if (!scheme)
        return false;
    std::string rest = setting.substr(setting.find("://") + 3);
    std::size_t slash = rest.find('/');
    if (slash != std::string::npos) {
        std::string folder = rest.substr(slash + 1);
        while (!folder.empty() && folder.back() == '/') folder.pop_back();
        if (!folder.empty())
            out.folder = folder;
        rest.resize(slash);
    }
    out.server.tls = scheme->tls;
    splitServerAndPort(rest, scheme->port, out.server.host, out.server.service);
    return !out.server.host.empty();
}
