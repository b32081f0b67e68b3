#include "settings/smtp_info_logic.h"

#include "settings/mailer_settings.h"

namespace {

// Stores copy into field when they differ; returns whether they did.
template <std::size_t N>
bool takeIfDifferent(FixedText<N>& field, const std::string& copy) {
    FixedText<N> stored(copy);
    if (stored == field)
        return false;
    field = stored.view();
    return true;
}

}  // namespace

SmtpInfoLogic::SmtpInfoLogic(const MailerSettings& settings)
    : server_(settings.smtpServer.str()),
      account_(settings.smtpUser.str()),
      password_(settings.smtpPassword.str()),
      authIndex_(settings.smtpAuth) {}

void SmtpInfoLogic::open(SmtpInfoView& view) {
    view.setText(kSmtpServerEdit, server_);
    view.setText(kSmtpAccountEdit, account_);
    view.setText(kSmtpPasswordEdit, password_);
    view.setSelectedIndex(authIndex_ == 0 || authIndex_ == 1 ? authIndex_ : -1);
    applyEnablingRule(view);
}

void SmtpInfoLogic::selectionChanged(SmtpInfoView& view) {
    readEdits(view);
    int selected = view.selectedIndex();
    if (selected >= 0)
        authIndex_ = selected;
    applyEnablingRule(view);
}

void SmtpInfoLogic::accept(SmtpInfoView& view) {
    readEdits(view);
}

int SmtpInfoLogic::commit(MailerSettings& settings, const std::string& path) const {
    bool changed = false;
    changed |= takeIfDifferent(settings.smtpServer, server_);
    if (settings.smtpAuth != authIndex_) {
        settings.smtpAuth = authIndex_;
        changed = true;
    }
    changed |= takeIfDifferent(settings.smtpUser, account_);
    changed |= takeIfDifferent(settings.smtpPassword, password_);
    if (!changed)
        return 0;
    saveSettings(settings, path);
    return 1;
}

void SmtpInfoLogic::applyEnablingRule(SmtpInfoView& view) const {
    bool enabled = authIndex_ != 0;
    view.setEnabled(kSmtpAccountLabel, enabled);
    view.setEnabled(kSmtpAccountEdit, enabled);
    view.setEnabled(kSmtpPasswordLabel, enabled);
    view.setEnabled(kSmtpPasswordEdit, enabled);
}

void SmtpInfoLogic::readEdits(SmtpInfoView& view) {
    server_ = view.text(kSmtpServerEdit);
    account_ = view.text(kSmtpAccountEdit);
    password_ = view.text(kSmtpPasswordEdit);
}
