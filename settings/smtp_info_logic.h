#pragma once

#include <string>

struct MailerSettings;

// Control ids of the SMTP Information dialog.
enum SmtpInfoId {
    kSmtpServerEdit = 1030,
    kSmtpAuthCombo = 1025,
    kSmtpAccountLabel = 1027,
    kSmtpAccountEdit = 1026,
    kSmtpPasswordLabel = 1029,
    kSmtpPasswordEdit = 1028,
};

// The dialog's controls as its rules see them.
class SmtpInfoView {
  public:
    virtual ~SmtpInfoView() = default;
    virtual std::string text(int id) = 0;
    virtual void setText(int id, const std::string& text) = 0;
    virtual void setEnabled(int id, bool enabled) = 0;
    // The selected item of the combo box 1025, -1 when none is selected.
    virtual int selectedIndex() = 0;
    virtual void setSelectedIndex(int index) = 0;
};

// The SMTP Information dialog's rules. It works on copies of smtpServer, smtpAuth, smtpUser
// and smtpPassword, taken when it is built, and touches the settings only in commit().
class SmtpInfoLogic {
  public:
    explicit SmtpInfoLogic(const MailerSettings& settings);

    // The dialog opens: the edits show the copies, the combo box selects the index (no item
    // for an index other than 0 and 1), and the account fields are enabled by the index.
    void open(SmtpInfoView& view);

    // Another item was picked: the copies are read back from the edits, the selected item
    // becomes the index (it stays when none is selected), and the enabling rule runs.
    void selectionChanged(SmtpInfoView& view);

    // "OK": the three edits are read into the copies.
    void accept(SmtpInfoView& view);

    // After "OK": every field that differs from its copy (texts byte for byte, as they would
    // be stored) takes the copy; when at least one differed, the settings file at path is
    // written. Returns 1 when something changed, 0 when nothing did.
    int commit(MailerSettings& settings, const std::string& path) const;

    int authIndex() const { return authIndex_; }
    const std::string& server() const { return server_; }

  private:
    void applyEnablingRule(SmtpInfoView& view) const;
    void readEdits(SmtpInfoView& view);

    std::string server_;
    std::string account_;
    std::string password_;
    int authIndex_ = 0;
};
