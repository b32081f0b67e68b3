#pragma once

#include <string>

// The two logins of the robot.
enum class MailAccount { kPop, kSmtp };

// Where the mail dialogues take an OAuth2 access token from, for an account whose method is
// "oauth2". Implemented above the mail layer (accounts/).
class AccessTokenSource {
  public:
    virtual ~AccessTokenSource() = default;

    // Gives the account's access token in token: one kept from before while it is still valid,
    // or a new one; with fresh set always a new one (the server refused the last). Returns false
    // with the reason in error, which says what to do and never holds a secret.
    virtual bool accessToken(MailAccount account, bool fresh, std::string& token,
                             std::string& error) = 0;
};
