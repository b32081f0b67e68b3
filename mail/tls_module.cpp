// The module tarnwick-tls.so: TLS through OpenSSL, loaded by the program with its first TLS
// session (tls_loader.cpp). Built with hidden visibility, so its calls stay inside it.
#include "mail/tls_session.h"

extern "C" __attribute__((visibility("default"))) TlsSession* tarnwick_tls_start(
    int socket, const std::string* host, std::chrono::steady_clock::time_point deadline,
    std::string* error, bool* timedOut) {
    return TlsSession::start(socket, *host, deadline, *error, *timedOut).release();
}

// See tarnwick_tls in CMakeLists.txt.
extern "C" const int tarnwick_tls_linked = 1;
