#include "accounts/account_tokens.h"

#include "accounts/oauth2_client.h"
#include "accounts/secrets.h"
#include "accounts/token_command.h"
#include "mail/dialogue_transcript.h"
#include "platform/clock.h"
#include "settings/mailer_settings.h"
#include "settings/text_routines.h"

namespace {

// A token is taken for new this long before the server said it expires.
constexpr std::int64_t kExpiryMarginSeconds = 60;

// What the server's refusal asks the operator to do.
std::string hintFor(const std::string& grant, const std::string& error) {
    if (grant == "refresh_token" && error == "invalid_grant")
        return " (run tarnwick --authorize)";
    if (error == "invalid_client" || error == "unauthorized_client")
        return " (check OAuth2ClientId and OAuth2ClientSecretStr)";
    if (error == "invalid_scope")
        return " (check OAuth2Scope)";
    return "";
}

}  // namespace

AccountTokens::AccountTokens(const MailerSettings& settings, Clock& clock, std::string configDir,
                             int timeoutMs)
    : settings_(settings), clock_(clock), configDir_(std::move(configDir)), timeoutMs_(timeoutMs) {}

bool AccountTokens::accessToken(MailAccount account, bool fresh, std::string& token,
                                std::string& error) {
    std::string how;
    bool taken = take(account, fresh, token, error, how);
    if (transcript_) {
        std::string step = std::string("token for ") +
                           (account == MailAccount::kPop ? "POP3" : "SMTP") +
                           (taken ? " " + how : ": " + error);
        transcript_->line("OAuth2", DialogueTranscript::Kind::kStep, step);
    }
    return taken;
}

// The token as accessToken gives it, and in how where it came from.
bool AccountTokens::take(MailAccount account, bool fresh, std::string& token, std::string& error,
                         std::string& how) {
    const std::string& command =
        account == MailAccount::kPop ? settings_.popTokenCommand : settings_.smtpTokenCommand;
    if (!command.empty()) {
        how = "printed by the token command";
        return runTokenCommand(command, timeoutMs_, token, error);
    }
    std::string settingsNow = settings_.oauth2TokenUrl + '\n' + settings_.oauth2ClientId + '\n' +
                              settings_.oauth2Scope + '\n' + settings_.oauth2Grant;
    how = "kept from before";
    if (fresh || settingsNow != keptFor_ || token_.empty() || clock_.now() >= validUntil_) {
        token_.clear();
        if (!fetch(error))
            return false;
        keptFor_ = settingsNow;
        how = "fetched from " + host_ + ": expires in " + std::to_string(lastExpiresIn_) + " s";
    }
    token = token_;
    return true;
}

bool AccountTokens::fetch(std::string& error) {
    const MailerSettings& s = settings_;
    std::string grant = toLowerAscii(s.oauth2Grant.empty() ? "refresh_token" : s.oauth2Grant);
    if (s.oauth2TokenUrl.empty() || s.oauth2ClientId.empty()) {
        error = "OAuth2 token: OAuth2TokenUrl and OAuth2ClientId must be set (or a token command)";
        return false;
    }
    host_ = urlHost(s.oauth2TokenUrl);
    FormFields form = {{"grant_type", grant}, {"client_id", s.oauth2ClientId}};
    if (!s.oauth2ClientSecret.empty())
        form.emplace_back("client_secret", s.oauth2ClientSecret);
    if (!s.oauth2Scope.empty())
        form.emplace_back("scope", s.oauth2Scope);
    std::string refreshToken;
    if (grant == "refresh_token") {
        if (!readRefreshToken(configDir_, credentialsDirectory(), refreshToken, error))
            return false;
        form.emplace_back("refresh_token", refreshToken);
    }
    OAuth2Reply reply;
    std::string failure;
    if (!postOAuth2Form(s.oauth2TokenUrl, form, timeoutMs_, reply, failure)) {
        error = "OAuth2 token from " + host_ + ": " + failure;
        return false;
    }
    if (!reply.error.empty() || reply.accessToken.empty()) {
        std::string why = reply.error.empty() ? "no access_token in the answer" : reply.error;
        error = "OAuth2 token refused by " + host_ + ": " + why + hintFor(grant, reply.error);
        return false;
    }
    if (grant == "refresh_token" && !reply.refreshToken.empty()) {
        std::string why;
        if (reply.refreshToken != refreshToken &&
            !saveRefreshToken(configDir_, reply.refreshToken, why)) {
            error = "OAuth2 token: the new refresh token could not be kept: " + why;
            return false;
        }
    }
    token_ = reply.accessToken;
    lastExpiresIn_ = reply.expiresIn;
    validUntil_ = reply.expiresIn > 0 ? clock_.now() + reply.expiresIn - kExpiryMarginSeconds
                                      : clock_.now() + 300;
    return true;
}
