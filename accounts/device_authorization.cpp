#include "accounts/device_authorization.h"

#include "accounts/oauth2_client.h"
#include "accounts/secrets.h"
#include "platform/clock.h"
#include "settings/mailer_settings.h"

namespace {

constexpr int kDefaultInterval = 5;
constexpr long long kDefaultLifetime = 900;

int fail(std::ostream& out, const std::string& why) {
    out << "Not signed in: " << why << std::endl;
    return 1;
}

}  // namespace

int runAuthorize(const MailerSettings& s, Clock& clock, const std::string& configDir,
                 std::ostream& out, int timeoutMs) {
    if (s.oauth2DeviceUrl.empty() || s.oauth2TokenUrl.empty() || s.oauth2ClientId.empty())
        return fail(out, "OAuth2DeviceUrl, OAuth2TokenUrl and OAuth2ClientId must be set");
    FormFields ask = {{"client_id", s.oauth2ClientId}};
    if (!s.oauth2Scope.empty())
        ask.emplace_back("scope", s.oauth2Scope);
    OAuth2Reply code;
    std::string failure;
    const std::string deviceHost = urlHost(s.oauth2DeviceUrl);
    if (!postOAuth2Form(s.oauth2DeviceUrl, ask, timeoutMs, code, failure))
        return fail(out, "no code from " + deviceHost + ": " + failure);
    if (!code.error.empty() || code.deviceCode.empty() || code.userCode.empty() ||
        code.verificationUri.empty())
        return fail(out, "no code from " + deviceHost + ": " +
                             (code.error.empty() ? "an incomplete answer" : code.error));
    out << "To sign in, open " << code.verificationUri << " and enter the code " << code.userCode
        << std::endl;

    int interval = code.interval > 0 ? code.interval : kDefaultInterval;
    const long long lifetime = code.expiresIn > 0 ? code.expiresIn : kDefaultLifetime;
    const std::int64_t end = clock.now() + lifetime;
    FormFields poll = {{"grant_type", "urn:ietf:params:oauth:grant-type:device_code"},
                       {"device_code", code.deviceCode},
                       {"client_id", s.oauth2ClientId}};
    if (!s.oauth2ClientSecret.empty())
        poll.emplace_back("client_secret", s.oauth2ClientSecret);
    const std::string tokenHost = urlHost(s.oauth2TokenUrl);
    while (true) {
        clock.sleepMs(interval * 1000);
        if (clock.now() >= end)
            return fail(out, "the code expired (run tarnwick --authorize again)");
        OAuth2Reply reply;
        if (!postOAuth2Form(s.oauth2TokenUrl, poll, timeoutMs, reply, failure))
            return fail(out, "no answer from " + tokenHost + ": " + failure);
        if (reply.error == "authorization_pending")
            continue;
        if (reply.error == "slow_down") {
            interval += 5;
            continue;
        }
        if (reply.error == "expired_token")
            return fail(out, "the code expired (run tarnwick --authorize again)");
        if (reply.error == "access_denied")
            return fail(out, "the sign-in was declined");
        if (!reply.error.empty())
            return fail(out, tokenHost + " answered " + reply.error);
        if (reply.refreshToken.empty())
            return fail(out, tokenHost +
                                 " gave no refresh token (does OAuth2Scope ask for one, e.g. "
                                 "offline_access?)");
        std::string why;
        if (!saveRefreshToken(configDir, reply.refreshToken, why))
            return fail(out, "the refresh token could not be kept: " + why);
        out << "Signed in: the refresh token is kept in " << configDir << kRefreshTokenFile
            << std::endl;
        return 0;
    }
}
