#pragma once

#include <ostream>
#include <string>

class Clock;
struct MailerSettings;

// The first sign-in of a station without a browser: the device authorization grant (RFC 8628).
// Asks OAuth2DeviceUrl for a code, prints "To sign in, open <verification_uri> and enter the
// code <user_code>", polls OAuth2TokenUrl at the server's interval (five seconds more after
// each slow_down) until the sign-in is done, declined (access_denied) or the code expires
// (expired_token, or its expires_in passed), and keeps the refresh token in
// oauth2-refresh-token in configDir. Returns 0 signed in, 1 not; what happened goes to out,
// never a token.
int runAuthorize(const MailerSettings& settings, Clock& clock, const std::string& configDir,
                 std::ostream& out, int timeoutMs);
