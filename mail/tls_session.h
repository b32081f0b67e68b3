#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

// TLS over one connected, non-blocking socket, through OpenSSL: at least TLS 1.2, the server's
// certificate checked against the system's trusted certificates (or SSL_CERT_FILE and
// SSL_CERT_DIR, as every OpenSSL program honours them) and against the host name, or the
// address when the server was named by one. The program loads OpenSSL with its first TLS
// session (the module tarnwick-tls.so, see tls_loader.cpp); test programs link it.
class TlsSession {
  public:
    // What one read or write did: moved bytes (> 0), or why none moved.
    struct Transfer {
        long bytes = 0;       // > 0: this many
        short waitFor = 0;    // POLLIN or POLLOUT: nothing yet, wait for the socket and retry
        bool closed = false;  // the peer ended the session
        bool failed = false;  // the session broke
    };

    virtual ~TlsSession() = default;

    // Runs the handshake with host, waiting for the socket until the deadline. Returns the
    // session; or nullptr with the reason in error ("TLS certificate of HOST not trusted: ...",
    // "TLS handshake with HOST failed: ...", "TLS handshake with HOST timed out") and timedOut
    // telling the last of them.
    static std::unique_ptr<TlsSession> start(int socket, const std::string& host,
                                             std::chrono::steady_clock::time_point deadline,
                                             std::string& error, bool& timedOut);

    virtual Transfer read(char* buffer, std::size_t size) = 0;
    virtual Transfer write(const char* data, std::size_t size) = 0;
    // True when decrypted bytes wait to be read.
    virtual bool pending() const = 0;
    // Says goodbye to the peer without waiting for its answer.
    virtual void close() = 0;
};
