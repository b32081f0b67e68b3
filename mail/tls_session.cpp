#include "mail/tls_session.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include <cerrno>

namespace {

// The session of OpenSSL.
class OpenSslSession final : public TlsSession {
  public:
    OpenSslSession(SSL_CTX* context, SSL* ssl) : context_(context), ssl_(ssl) {}
    ~OpenSslSession() override;
    OpenSslSession(const OpenSslSession&) = delete;
    OpenSslSession& operator=(const OpenSslSession&) = delete;

    Transfer read(char* buffer, std::size_t size) override;
    Transfer write(const char* data, std::size_t size) override;
    bool pending() const override;
    void close() override;

    SSL* ssl() const { return ssl_; }
    Transfer transferResult(int result);

  private:
    SSL_CTX* context_;
    SSL* ssl_;
};

using SteadyClock = std::chrono::steady_clock;

int msLeft(SteadyClock::time_point deadline) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool isAddress(const std::string& host) {
    unsigned char address[16];
    return inet_pton(AF_INET, host.c_str(), address) == 1 ||
           inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// The name the certificate was made out to: its first DNS name, else its common name.
std::string certificateName(X509* certificate) {
    std::string name;
    auto* names = static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; names && i < sk_GENERAL_NAME_num(names) && name.empty(); ++i) {
        const GENERAL_NAME* entry = sk_GENERAL_NAME_value(names, i);
        if (entry->type == GEN_DNS)
            name.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(entry->d.dNSName)),
                        static_cast<std::size_t>(ASN1_STRING_length(entry->d.dNSName)));
    }
    GENERAL_NAMES_free(names);
    if (name.empty()) {
        char common[256] = {};
        X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, common,
                                  sizeof common);
        name = common;
    }
    return name;
}

// Where the verification keeps the name of the server's own certificate, which the session no
// longer holds once the handshake failed.
int certificateNameIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

int noteCertificateName(int preverified, X509_STORE_CTX* store) {
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* name = static_cast<std::string*>(SSL_get_ex_data(ssl, certificateNameIndex()));
    X509* certificate = X509_STORE_CTX_get_current_cert(store);
    if (name && certificate && X509_STORE_CTX_get_error_depth(store) == 0)
        *name = certificateName(certificate);
    return preverified;
}

std::string handshakeFailure(SSL* ssl, const std::string& host, const std::string& named) {
    long verdict = SSL_get_verify_result(ssl);
    if (verdict != X509_V_OK) {
        std::string text = "TLS certificate of " + host +
                           " not trusted: " + X509_verify_cert_error_string(verdict);
        if (verdict == X509_V_ERR_HOSTNAME_MISMATCH || verdict == X509_V_ERR_IP_ADDRESS_MISMATCH)
            text += " (it names " + named + ")";
        return text;
    }
    unsigned long code = ERR_get_error();
    char reason[256] = "the server closed the connection";
    if (code != 0)
        ERR_error_string_n(code, reason, sizeof reason);
    return "TLS handshake with " + host + " failed: " + reason;
}

}  // namespace

OpenSslSession::~OpenSslSession() {
    SSL_free(ssl_);
    SSL_CTX_free(context_);
}

std::unique_ptr<TlsSession> TlsSession::start(int socket, const std::string& host,
                                              SteadyClock::time_point deadline, std::string& error,
                                              bool& timedOut) {
    timedOut = false;
    ERR_clear_error();
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    SSL* ssl = context ? SSL_new(context) : nullptr;
    if (!ssl) {
        SSL_CTX_free(context);
        error = "TLS handshake with " + host + " failed: no TLS context";
        return nullptr;
    }
    auto session = std::make_unique<OpenSslSession>(context, ssl);
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_default_verify_paths(context);
    std::string named;
    SSL_set_ex_data(ssl, certificateNameIndex(), &named);
    SSL_set_verify(ssl, SSL_VERIFY_PEER, noteCertificateName);
    SSL_set_mode(ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (isAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl, host.c_str());
        SSL_set1_host(ssl, host.c_str());
    }
    SSL_set_fd(ssl, socket);
    for (;;) {
        errno = 0;
        int result = SSL_connect(ssl);
        if (result == 1) {
            SSL_set_ex_data(ssl, certificateNameIndex(), nullptr);
            return session;
        }
        Transfer transfer = session->transferResult(result);
        if (transfer.waitFor == 0) {
            error = handshakeFailure(ssl, host, named);
            return nullptr;
        }
        pollfd p{socket, transfer.waitFor, 0};
        int ready = msLeft(deadline) > 0 ? poll(&p, 1, msLeft(deadline)) : 0;
        if (ready == 0) {
            timedOut = true;
            error = "TLS handshake with " + host + " timed out";
            return nullptr;
        }
    }
}

TlsSession::Transfer OpenSslSession::transferResult(int result) {
    Transfer transfer;
    if (result > 0) {
        transfer.bytes = result;
        return transfer;
    }
    switch (SSL_get_error(ssl_, result)) {
        case SSL_ERROR_WANT_READ:
            transfer.waitFor = POLLIN;
            break;
        case SSL_ERROR_WANT_WRITE:
            transfer.waitFor = POLLOUT;
            break;
        case SSL_ERROR_ZERO_RETURN:
            transfer.closed = true;
            break;
        case SSL_ERROR_SYSCALL:
            // Interrupted: try again as soon as the socket allows anything.
            if (errno == EINTR || errno == EAGAIN)
                transfer.waitFor = POLLIN | POLLOUT;
            else
                transfer.failed = true;
            break;
        default:
            transfer.failed = true;
    }
    return transfer;
}

TlsSession::Transfer OpenSslSession::read(char* buffer, std::size_t size) {
    ERR_clear_error();
    errno = 0;
    return transferResult(SSL_read(ssl_, buffer, static_cast<int>(size)));
}

bool OpenSslSession::pending() const {
    return SSL_pending(ssl_) > 0;
}

TlsSession::Transfer OpenSslSession::write(const char* data, std::size_t size) {
    ERR_clear_error();
    errno = 0;
    return transferResult(SSL_write(ssl_, data, static_cast<int>(size)));
}

void OpenSslSession::close() {
    ERR_clear_error();
    SSL_shutdown(ssl_);
}
