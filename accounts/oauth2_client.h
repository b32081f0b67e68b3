#pragma once

#include <string>
#include <utility>
#include <vector>

// What a token or device authorization endpoint answered (RFC 6749 5.1 and 5.2, RFC 8628 3.2).
struct OAuth2Reply {
    std::string accessToken;
    std::string refreshToken;  // "" when the server sent none (it keeps the old one)
    long long expiresIn = 0;   // seconds; 0 when not given
    std::string error;         // the OAuth error code ("invalid_grant", "slow_down"...), or ""
    // The device authorization's answer.
    std::string deviceCode;
    std::string userCode;
    std::string verificationUri;
    int interval = 0;  // seconds between polls; 0 when not given
};

using FormFields = std::vector<std::pair<std::string, std::string>>;

// POSTs the form (application/x-www-form-urlencoded) to an https:// URL and reads the JSON
// answer into reply, whatever the HTTP status. The server's certificate is checked as the mail
// servers' are: against the system's store (or SSL_CERT_FILE, SSL_CERT_DIR) and for the host
// name. At most 1 MiB of answer is read, within timeoutMs. Returns false with the reason in
// failure when no OAuth answer came (no connection, a certificate refused, not JSON); a refusal
// with an OAuth error code is an answer (reply.error).
bool postOAuth2Form(const std::string& url, const FormFields& form, int timeoutMs,
                    OAuth2Reply& reply, std::string& failure);

// The JSON answer of an endpoint; false when the text is not a JSON object.
bool parseOAuth2Reply(const std::string& body, OAuth2Reply& reply);

// The host name of an URL, for the texts ("login.example" of "https://login.example/x").
std::string urlHost(const std::string& url);
