#pragma once

#include <string>
#include <vector>

// The SASL mechanisms that carry an OAuth2 bearer token: OAUTHBEARER (RFC 7628) and Google's
// and Microsoft's XOAUTH2.

// The mechanism to use of those a server offers (names in any letter case): "OAUTHBEARER"
// where offered, else "XOAUTH2"; "" when it offers neither.
std::string chooseOAuthMechanism(const std::vector<std::string>& offered);

// The client's first response of the mechanism for user and token, in base64.
std::string oauthInitialResponse(const std::string& mechanism, const std::string& user,
                                 const std::string& token);

// What the client answers to a server's error challenge, in base64: nothing for XOAUTH2, the
// single byte 0x01 for OAUTHBEARER.
std::string oauthErrorAcknowledgement(const std::string& mechanism);

// The server's words in an error challenge (base64 of a JSON text), decoded and shown on one
// line of at most 200 characters, control characters as blanks.
std::string oauthChallengeWords(const std::string& base64);

// The mechanism names of a list such as "PLAIN XOAUTH2 OAUTHBEARER", upper-cased.
std::vector<std::string> saslMechanisms(const std::string& list);
