#pragma once

#include <string>

// How a mail server is reached.
enum class TlsMode {
    kPlain,     // no TLS
    kImplicit,  // TLS from the first byte
    kStartTls,  // plain at first, then upgraded, and the upgrade is required
};

// The forms a server setting may take for one protocol.
struct ServerForms {
    const char* tlsScheme;       // "pop3s": TLS from the first byte
    const char* startTlsScheme;  // "pop3+starttls"
    const char* plainPort;
    const char* tlsPort;
    const char* startTlsPort;
};

inline constexpr ServerForms kPopServerForms{"pop3s", "pop3+starttls", "110", "995", "110"};
inline constexpr ServerForms kSmtpServerForms{"smtps", "smtp+starttls", "25", "465", "587"};
inline constexpr ServerForms kImapServerForms{"imaps", "imap+starttls", "143", "993", "143"};

struct ServerAddress {
    std::string host;
    std::string service;
    TlsMode tls = TlsMode::kPlain;
};

// Reads a server setting: "host" or "host:port" (plain, as ever), "SCHEME://host[:port]" with
// the protocol's TLS or STARTTLS scheme (in any letter case), each with its own default port.
// Returns false, the address then as good as plain, for any other "...://".
bool parseServerSetting(const std::string& setting, const ServerForms& forms, ServerAddress& out);

// The way out where a setting's TLS form does not match the server: a TLS handshake that met
// plain text (OpenSSL says "wrong version number") means the server speaks plain text first,
// so "the server at HOST:PORT speaks plain text first: use SCHEME+starttls://HOST:PORT". ""
// for any other failure.
std::string plainTextFirstHint(const std::string& tlsError, const ServerForms& forms,
                               const ServerAddress& server);

// "use SCHEME+starttls://HOST:PORT", for a plain server that asks for TLS.
std::string startTlsForm(const ServerForms& forms, const ServerAddress& server);
