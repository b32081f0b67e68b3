#pragma once

#include <string>

#include "app/check_now_control.h"
#include "settings/directory_logic.h"

class MailerApp;
class SmtpInfoLogic;

// Control ids of the main window.
enum MainWindowId {
    kCloseButton = 1,
    kCancelButton = 2,
    kServerEdit = 1000,
    kUserNameEdit = 1001,
    kPasswordEdit = 1002,
    kCheckEveryEdit = 1003,
    kFirstSystemDirEdit = 1004,
    kSecondSystemDirEdit = 1005,
    kTempDirEdit = 1006,
    kCheckNowButton = 1007,
    kEnableBox = 1008,
    kFirstRequestDirEdit = 1009,
    kSecondRequestDirEdit = 1010,
    kStationNameEdit = 1011,
    kFromUserEdit = 1012,
    kActivityList = 1013,
    kSaveButton = 1014,
    kUpdateButton = 1015,
    kFirstSystemDirBrowse = 1016,
    kFirstRequestDirBrowse = 1017,
    kSecondSystemDirBrowse = 1018,
    kSecondRequestDirBrowse = 1019,
    kMapDriveEdit = 1021,
    kStatisticsButton = 1022,
    kSmtpInfoButton = 1023,
};

// The main window's controls and modal helpers as its rules see them. Setting a text never
// reports a change back; the rules raise the change themselves where one counts.
class WindowView : public DirectoryChooser {
  public:
    virtual std::string text(int id) = 0;
    virtual void setText(int id, const std::string& text) = 0;
    virtual bool checked(int id) = 0;
    virtual void setChecked(int id, bool checked) = 0;
    virtual void setEnabled(int id, bool enabled) = 0;
    virtual void focus(int id) = 0;
    // A validation message with an OK button, shown modally.
    virtual void showValidationMessage(const std::string& message) = 0;
    // The "Exit Program" question with OK and Cancel; true for OK.
    virtual bool askExit() = 0;
    // Shows the window in its normal size and brings it to the foreground, with the dialog
    // open over it, if any; or hides it (to the tray icon; without one, it minimises).
    virtual void showWindow(bool shown) = 0;
    // Adds the tray icon or removes it.
    virtual void useTray(bool use) = 0;
    // True while one of the window's dialogs or message boxes is open.
    virtual bool dialogOpen() = 0;
    // A confirmed exit: the poll timer stops, the tray icon goes, the window ends.
    virtual void endWindow() = 0;
    // Runs the SMTP Information dialog on logic; true when it ended with OK.
    virtual bool runSmtpInfoDialog(SmtpInfoLogic& logic) = 0;
};

// The window's data-exchange fields, one per edit and tick box; separate from the settings.
struct WindowFields {
    std::string popServer;
    std::string popUser;
    std::string tempDir;
    int checkEvery = 0;
    int enable = 0;
    std::string popPassword;
    std::string mornakReq;
    std::string mornak2Req;
    std::string mornakDir;
    std::string mornak2Dir;
    std::string fromUser;
    std::string mapDrive;  // at most one character when valid
    std::string stationName;
};

// The main window's rules: data exchange and validation, the focus-loss copies into the
// settings, the "Check Every" clamp, the polling controls, the buttons, the exit question and
// the tray's shown flag. It is the "Check Now" control the request cycle switches.
class MainWindowLogic final : public CheckNowControl {
  public:
    MainWindowLogic(MailerApp& app, WindowView& view);
    ~MainWindowLogic() override;
    MainWindowLogic(const MainWindowLogic&) = delete;
    MainWindowLogic& operator=(const MainWindowLogic&) = delete;

    // The window's part of start-up, after MailerApp::startUp(): fields and controls filled
    // from the settings, the polling-controls rule, "&Save" disabled, the recorder systems
    // read, polling forced on for complete settings, the window marked shown.
    void startUp();

    // Reads every control into its field in the fixed order. A value that fails its check
    // shows its message, takes the focus and leaves the later fields unread; returns false.
    bool exchangeFromControls();

    // An edit's text changed (typed, or set by a browse button or the clamp).
    void onEditChanged(int id);
    // An edit lost the focus: exchange, then its field goes into its setting.
    void onFocusLost(int id);
    void onEnableClicked();
    void onCheckNow();
    void onUpdate();
    void onSave();
    // One of the "..." buttons 1016 to 1019.
    void onBrowse(int buttonId);
    void onSmtpInfo();
    // "Close" and Enter: the exit question, then validation, then the end.
    void onClose();
    // Escape, the close box, the hidden "Cancel": the exit question, then the end.
    void onCancel();
    // The tray icon double-clicked: the window hides or shows. While a dialog is open the
    // window does not hide from under it; it comes to the front with the dialog instead.
    void onTrayDoubleClick();
    // Tray menu command 32775 ("&Hide Window" / "&Show Window"), as a double-click.
    void onTrayToggle();
    // Tray menu command 32776 ("&Exit Program"): a hidden window comes up first.
    void onTrayExit();
    // The window menu's "&Hide Window" (command 17).
    void onHideCommand();
    // The user brought a window back that had no tray icon to return through.
    void onRestoredByUser() { shown_ = true; }
    // Whether a system tray is there, as looked for at start-up and every few seconds after.
    // When that changes the tray icon is added or removed, and a hidden window follows so that
    // it can always be reached: shown again when the tray went away, hidden to the tray that
    // came when it was minimised for want of one.
    void onTrayAvailable(bool available);

    // The first tray-menu item's label, as it reads when the menu opens now: "&Show Window"
    // also while a dialog is open, since the item then brings the window to the front.
    std::string trayMenuLabel() const;
    bool shown() const { return shown_; }
    bool trayInUse() const { return trayInUse_; }
    bool ended() const { return ended_; }
    const WindowFields& fields() const { return fields_; }

    // The completeness test on the window's fields and the record's smtpServer.
    bool windowSettingsComplete() const;

    void setCheckNowEnabled(bool enabled) override;

  private:
    void copySettingsToFields();
    void fillControls();
    bool readCheckEvery();
    bool fail(int id, const std::string& message);
    void pollingControlsRule();
    void copyFieldToSetting(int id);
    void clampCheckEvery();
    void endWindow();

    MailerApp& app_;
    WindowView& view_;
    WindowFields fields_;
    bool shown_ = false;
    bool trayInUse_ = false;
    bool ended_ = false;
    bool exchanging_ = false;  // control notifications are ignored meanwhile
};

// Reads an integer as the "Check Every" edit takes it: white space around an optional sign
// and decimal digits, nothing else, within the int range. Returns false otherwise.
bool parseFieldInteger(const std::string& text, int& value);
