#include "accounts/secrets.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "settings/mailer_settings.h"
#include "spool/durable_file.h"

namespace {

constexpr std::size_t kMaxSecretBytes = 64 * 1024;

}  // namespace

std::string credentialsDirectory() {
    const char* dir = std::getenv("CREDENTIALS_DIRECTORY");
    if (!dir || !*dir)
        return "";
    std::string path = dir;
    if (path.back() != '/')
        path += '/';
    return path;
}

bool readSecretFile(const std::string& path, std::string& secret) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    std::string text(kMaxSecretBytes + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad())
        return false;
    text.resize(static_cast<std::size_t>(file.gcount()));
    if (text.size() > kMaxSecretBytes)
        return false;
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    secret = text;
    return true;
}

void applyCredentials(MailerSettings& settings, const std::string& dir) {
    if (dir.empty())
        return;
    std::string secret;
    if (readSecretFile(dir + kPopPasswordCredential, secret))
        settings.popPassword = secret;
    if (readSecretFile(dir + kSmtpPasswordCredential, secret))
        settings.smtpPassword = secret;
    if (readSecretFile(dir + kClientSecretCredential, secret))
        settings.oauth2ClientSecret = secret;
}

bool readRefreshToken(const std::string& configDir, const std::string& credentialsDir,
                      std::string& token, std::string& error) {
    if (!credentialsDir.empty() &&
        readSecretFile(credentialsDir + kRefreshTokenCredential, token) && !token.empty())
        return true;
    if (readSecretFile(configDir + kRefreshTokenFile, token) && !token.empty())
        return true;
    error = std::string("no OAuth2 refresh token in ") + configDir + kRefreshTokenFile +
            " (run tarnwick --authorize)";
    return false;
}

bool saveRefreshToken(const std::string& configDir, const std::string& token, std::string& error) {
    return writeDurably(configDir, kRefreshTokenFile, token + "\n", error);
}
