#include "mail/sasl_oauth.h"

#include <algorithm>
#include <sstream>

#include "settings/base64.h"
#include "settings/text_routines.h"

namespace {

std::string base64Of(const std::string& bytes) {
    Base64Coder coder;
    coder.encode(bytes.data(), bytes.size());
    return std::string(coder.encodedData(), coder.encodedLength());
}

// The user name as a SASL authzid of RFC 5801: "," and "=" written =2C and =3D.
std::string saslName(const std::string& user) {
    std::string out;
    for (char c : user) {
        if (c == ',')
            out += "=2C";
        else if (c == '=')
            out += "=3D";
        else
            out += c;
    }
    return out;
}

}  // namespace

std::string chooseOAuthMechanism(const std::vector<std::string>& offered) {
    for (const char* wanted : {"OAUTHBEARER", "XOAUTH2"})
        for (const std::string& name : offered)
            if (equalsIgnoreCase(name, wanted))
                return wanted;
    return "";
}

std::string oauthInitialResponse(const std::string& mechanism, const std::string& user,
                                 const std::string& token) {
    if (mechanism == "OAUTHBEARER")
        return base64Of("n,a=" + saslName(user) +
                        ",\x01"
                        "auth=Bearer " +
                        token + "\x01\x01");
    return base64Of("user=" + user +
                    "\x01"
                    "auth=Bearer " +
                    token + "\x01\x01");
}

std::string oauthErrorAcknowledgement(const std::string& mechanism) {
    return mechanism == "OAUTHBEARER" ? base64Of("\x01") : "";
}

std::string oauthChallengeWords(const std::string& base64) {
    Base64Coder coder;
    coder.decode(base64.data(), std::min<std::size_t>(base64.size(), 4096));
    std::string words(reinterpret_cast<const char*>(coder.decodedData()), coder.decodedLength());
    while (!words.empty() && words.back() == '\0') words.pop_back();  // what the padding gave
    for (char& c : words)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    return words.substr(0, 200);
}

std::vector<std::string> saslMechanisms(const std::string& list) {
    std::vector<std::string> names;
    std::istringstream words(list);
    for (std::string name; words >> name;) names.push_back(toUpperAscii(name));
    return names;
}
