#include "settings/settings_secrets.h"

#include "settings/mailer_settings.h"

SecretMask settingsSecrets(const MailerSettings& settings) {
    SecretMask mask;
    mask.addPlainLogin(settings.popUser.str(), settings.popPassword.str());
    mask.addPlainLogin(settings.smtpUser.str(), settings.smtpPassword.str());
    if (!settings.oauth2ClientSecret.empty())
        mask.add(settings.oauth2ClientSecret);
    return mask;
}
