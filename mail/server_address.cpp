#include "mail/server_address.h"

#include "mail/connection.h"
#include "settings/text_routines.h"

bool parseServerSetting(const std::string& setting, const ServerForms& forms, ServerAddress& out) {
    out = ServerAddress{};
    std::size_t mark = setting.find("://");
    if (mark == std::string::npos) {
        splitServerAndPort(setting, forms.plainPort, out.host, out.service);
        return true;
    }
    std::string scheme = toLowerAscii(setting.substr(0, mark));
    std::string rest = setting.substr(mark + 3);
    while (!rest.empty() && rest.back() == '/') rest.pop_back();
    if (scheme == forms.tlsScheme) {
        out.tls = TlsMode::kImplicit;
        splitServerAndPort(rest, forms.tlsPort, out.host, out.service);
        return true;
    }
    if (scheme == forms.startTlsScheme) {
        out.tls = TlsMode::kStartTls;
        splitServerAndPort(rest, forms.startTlsPort, out.host, out.service);
        return true;
    }
    splitServerAndPort(rest, forms.plainPort, out.host, out.service);
    return false;
}

std::string startTlsForm(const ServerForms& forms, const ServerAddress& server) {
    return std::string("use ") + forms.startTlsScheme + "://" + server.host + ":" + server.service;
}

std::string plainTextFirstHint(const std::string& tlsError, const ServerForms& forms,
                               const ServerAddress& server) {
    if (tlsError.find("wrong version number") == std::string::npos)
        return {};
    return "the server at " + server.host + ":" + server.service +
           " speaks plain text first: " + startTlsForm(forms, server);
}
