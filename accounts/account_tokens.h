#pragma once

#include <cstdint>
#include <string>

#include "mail/access_token.h"

class Clock;
class DialogueTranscript;
struct MailerSettings;

// The access tokens of the two accounts, from what the settings name: the account's token
// command (PopTokenCommand, SmtpTokenCommand), run every time a token is wanted; else the
// built-in OAuth2 client (OAuth2TokenUrl, OAuth2ClientId, OAuth2ClientSecretStr, OAuth2Scope)
// with the grant of OAuth2Grant: client_credentials, or refresh_token with the refresh token
// of oauth2-refresh-token (or the credential of that name). The client's token is kept in
// memory, for both accounts, until a minute before it expires; a refresh token that the server
// replaces is written to the file at once. The settings are read at every call, so a reload
// takes effect at the next token. With a transcript, each token taken is shown there as a
// step ("token for SMTP fetched from HOST: expires in N s"), never the token itself.
class AccountTokens final : public AccessTokenSource {
  public:
    AccountTokens(const MailerSettings& settings, Clock& clock, std::string configDir,
                  int timeoutMs);

    void setTranscript(DialogueTranscript* transcript) { transcript_ = transcript; }

    bool accessToken(MailAccount account, bool fresh, std::string& token,
                     std::string& error) override;

    // The last token the OAuth2 client fetched: its endpoint's host and the seconds it was
    // given for (0 when none was fetched or it came without an expiry).
    const std::string& tokenHost() const { return host_; }
    long long lastExpiresIn() const { return lastExpiresIn_; }

  private:
    bool fetch(std::string& error);
    bool take(MailAccount account, bool fresh, std::string& token, std::string& error,
              std::string& how);

    const MailerSettings& settings_;
    Clock& clock_;
    std::string configDir_;
    int timeoutMs_;
    std::string token_;            // the OAuth2 client's token
    std::int64_t validUntil_ = 0;  // calendar seconds; 0 none
    std::string keptFor_;          // the settings the token was fetched with
    std::string host_;
    long long lastExpiresIn_ = 0;
    DialogueTranscript* transcript_ = nullptr;
};
