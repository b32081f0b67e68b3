#pragma once

#include <QDialog>

#include <memory>

#include "settings/smtp_info_logic.h"

namespace Ui {
class SmtpInfoDialog;
}

// The SMTP Information dialog: the four outgoing-mail settings, worked on as copies by
// SmtpInfoLogic. The caller commits the copies when exec() returned Accepted.
class SmtpInfoDialog final : public QDialog, private SmtpInfoView {
    Q_OBJECT

  public:
    SmtpInfoDialog(SmtpInfoLogic& logic, QWidget* parent);
    ~SmtpInfoDialog() override;

    void accept() override;

  private:
    std::string text(int id) override;
    void setText(int id, const std::string& text) override;
    void setEnabled(int id, bool enabled) override;
    int selectedIndex() override;
    void setSelectedIndex(int index) override;
    QWidget* control(int id) const;

    std::unique_ptr<Ui::SmtpInfoDialog> ui_;
    SmtpInfoLogic& logic_;
};
