// The program's TLS: the module tarnwick-tls.so (OpenSSL), loaded with the first TLS session so
// that a robot that has not yet spoken TLS holds none of it. Test programs link it instead.
#include "mail/tls_session.h"
#include "platform/program_module.h"

namespace {

using Start = TlsSession* (*)(int, const std::string*, std::chrono::steady_clock::time_point,
                               std::string*, bool*);

}  // namespace

std::unique_ptr<TlsSession> TlsSession::start(int socket, const std::string& host,
                                              std::chrono::steady_clock::time_point deadline,
                                              std::string& error, bool& timedOut) {
    static Start entry = nullptr;
    timedOut = false;
    if (!entry) {
        std::string why;
        void* module = loadProgramModule("tarnwick-tls.so", why);
        entry = module ? reinterpret_cast<Start>(moduleEntry(module, "tarnwick_tls_start", why))
                       : nullptr;
        if (!entry) {
            error = "TLS handshake with " + host + " failed: TLS cannot be loaded: " + why;
            return nullptr;
        }
    }
    return std::unique_ptr<TlsSession>(entry(socket, &host, deadline, &error, &timedOut));
}
