#pragma once

#include "activity/secret_mask.h"

struct MailerSettings;

// The secrets of the settings' logins, for the activity log to mask: the POP password, and the
// SMTP password alone (AUTH LOGIN) and with the SMTP user (AUTH PLAIN).
SecretMask settingsSecrets(const MailerSettings& settings);
