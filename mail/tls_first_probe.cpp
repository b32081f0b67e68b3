#include "mail/tls_first_probe.h"

#include <algorithm>

namespace {

// True when the server completed a handshake or answered it in TLS (a certificate, an alert).
bool answersTls(const ServerAddress& server, int waitMs) {
    std::string error;
    ConnectionContext context;
    context.errorText = &error;
    context.timeoutMs = waitMs;
    connection* probe = nullptr;
    if (gensock_open(server.host.c_str(), server.service.c_str(), context, &probe) != kGensockOk)
        return false;
    int result = gensock_start_tls(probe, server.host);
    gensock_release(probe);
    if (result == kGensockOk)
        return true;
    return error.find("certificate") != std::string::npos ||
           error.find("alert") != std::string::npos;
}

}  // namespace

std::string tlsFirstHint(connection* conn, const ServerForms& forms, const ServerAddress& server,
                         const ConnectionContext& context) {
    const int waitMs = std::min(kTlsFirstWaitMs, context.timeoutMs);
    // A server that speaks TLS answers a handshake at once; a silent one is given less time.
    if (gensock_data_waiting(conn, waitMs) || !answersTls(server, std::min(waitMs, 2000)))
        return {};
    return "the server at " + server.host + ":" + server.service +
           " speaks TLS from the first byte: use " + forms.tlsScheme + "://" + server.host + ":" +
           server.service;
}
