#include "app/main_window_logic.h"

#include <cctype>
#include <climits>
#include <memory>

#include "app/mailer_app.h"
#include "settings/mailer_settings.h"
#include "settings/smtp_info_logic.h"

namespace {

constexpr int kMinCheckEvery = 1;
constexpr int kMaxCheckEvery = 30;

// Sets flag for the life of the guard.
class FlagGuard {
  public:
    explicit FlagGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagGuard() { flag_ = false; }

  private:
    bool& flag_;
};

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

bool parseFieldInteger(const std::string& text, int& value) {
    std::size_t i = 0;
    std::size_t end = text.size();
    while (i < end && isBlank(text[i])) ++i;
    while (end > i && isBlank(text[end - 1])) --end;
    bool negative = false;
    if (i < end && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i == end)
        return false;
    long long result = 0;
    for (; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        result = result * 10 + (text[i] - '0');
        if (result > static_cast<long long>(INT_MAX) + 1)
            return false;
    }
    if (negative)
        result = -result;
    if (result > INT_MAX || result < INT_MIN)
        return false;
    value = static_cast<int>(result);
    return true;
}

MainWindowLogic::MainWindowLogic(MailerApp& app, WindowView& view) : app_(app), view_(view) {
    app_.setCheckNowControl(this);
}

MainWindowLogic::~MainWindowLogic() {
    app_.setCheckNowControl(nullptr);
}

void MainWindowLogic::startUp() {
    copySettingsToFields();
    fillControls();
    pollingControlsRule();
    view_.setEnabled(kSaveButton, false);
    // MailerApp::startUp has read the recorder configurations already.
    if (windowSettingsComplete()) {
        app_.settings().popEnable = 1;
        fields_.enable = 1;
        view_.setEnabled(kCheckNowButton, true);
        view_.setEnabled(kEnableBox, true);
        view_.setChecked(kEnableBox, true);
    }
    shown_ = true;
}

void MainWindowLogic::copySettingsToFields() {
    const MailerSettings& s = app_.settings();
    fields_.popServer = s.popServer.str();
    fields_.popUser = s.popUser.str();
    fields_.popPassword = s.popPassword.str();
    fields_.enable = s.popEnable;
    fields_.checkEvery = s.popCheckTime;
    fields_.stationName = s.stationName.str();
    fields_.tempDir = s.tempDir.str();
    fields_.mornakDir = s.mornakDir.str();
    fields_.mornakReq = s.mornakReq.str();
    fields_.mornak2Dir = s.mornak2Dir.str();
    fields_.mornak2Req = s.mornak2Req.str();
    fields_.fromUser = s.fromUser.str();
    fields_.mapDrive = s.mapDrive ? std::string(1, s.mapDrive) : std::string();
}

void MainWindowLogic::fillControls() {
    view_.setText(kServerEdit, fields_.popServer);
    view_.setText(kUserNameEdit, fields_.popUser);
    view_.setText(kTempDirEdit, fields_.tempDir);
    view_.setText(kCheckEveryEdit, std::to_string(fields_.checkEvery));
    view_.setChecked(kEnableBox, fields_.enable != 0);
    view_.setText(kPasswordEdit, fields_.popPassword);
    view_.setText(kFirstRequestDirEdit, fields_.mornakReq);
    view_.setText(kSecondRequestDirEdit, fields_.mornak2Req);
    view_.setText(kFirstSystemDirEdit, fields_.mornakDir);
    view_.setText(kSecondSystemDirEdit, fields_.mornak2Dir);
    view_.setText(kFromUserEdit, fields_.fromUser);
    view_.setText(kMapDriveEdit, fields_.mapDrive);
    view_.setText(kStationNameEdit, fields_.stationName);
}

bool MainWindowLogic::exchangeFromControls() {
    FlagGuard lockout(exchanging_);
    fields_.popServer = view_.text(kServerEdit);
    fields_.popUser = view_.text(kUserNameEdit);
    fields_.tempDir = view_.text(kTempDirEdit);
    if (!readCheckEvery())
        return false;
    fields_.enable = view_.checked(kEnableBox) ? 1 : 0;
    fields_.popPassword = view_.text(kPasswordEdit);
    fields_.mornakReq = view_.text(kFirstRequestDirEdit);
    fields_.mornak2Req = view_.text(kSecondRequestDirEdit);
    fields_.mornakDir = view_.text(kFirstSystemDirEdit);
    fields_.mornak2Dir = view_.text(kSecondSystemDirEdit);
    fields_.fromUser = view_.text(kFromUserEdit);
    fields_.mapDrive = view_.text(kMapDriveEdit);
    if (fields_.mapDrive.size() > 1)
        return fail(kMapDriveEdit, "Please enter no more than 1 characters.");
    fields_.stationName = view_.text(kStationNameEdit);
    return true;
}

// A number that does not parse leaves the field as it was; one out of range is kept.
bool MainWindowLogic::readCheckEvery() {
    int value = 0;
    if (!parseFieldInteger(view_.text(kCheckEveryEdit), value))
        return fail(kCheckEveryEdit, "Please enter an integer.");
    fields_.checkEvery = value;
    if (value < kMinCheckEvery || value > kMaxCheckEvery)
        return fail(kCheckEveryEdit, "Please enter an integer between " +
                                         std::to_string(kMinCheckEvery) + " and " +
                                         std::to_string(kMaxCheckEvery) + ".");
    return true;
}

bool MainWindowLogic::fail(int id, const std::string& message) {
    view_.showValidationMessage(message);
    view_.focus(id);
    return false;
}

bool MainWindowLogic::windowSettingsComplete() const {
    auto probe = std::make_unique<MailerSettings>();
    probe->popServer = fields_.popServer;
    probe->popUser = fields_.popUser;
    probe->popPassword = fields_.popPassword;
    probe->popAuthMethod = app_.settings().popAuthMethod;
    probe->popCheckTime = fields_.checkEvery;
    probe->stationName = fields_.stationName;
    probe->smtpServer = app_.settings().smtpServer.view();
    probe->tempDir = fields_.tempDir;
    probe->fromUser = fields_.fromUser;
    probe->mornakDir = fields_.mornakDir;
    probe->mornakReq = fields_.mornakReq;
    return settingsComplete(*probe);
}

void MainWindowLogic::pollingControlsRule() {
    exchangeFromControls();
    if (windowSettingsComplete()) {
        view_.setEnabled(kCheckNowButton, fields_.enable != 0);
        return;
    }
    view_.setEnabled(kEnableBox, false);
    view_.setEnabled(kCheckNowButton, false);
    fields_.enable = 0;
    app_.settings().popEnable = 0;
    view_.setChecked(kEnableBox, false);
}

void MainWindowLogic::onEditChanged(int /*id*/) {
    if (exchanging_ || ended_)
        return;
    view_.setEnabled(kSaveButton, true);
    pollingControlsRule();
}

void MainWindowLogic::onFocusLost(int id) {
    if (exchanging_ || ended_)
        return;
    exchangeFromControls();
    if (id == kCheckEveryEdit)
        clampCheckEvery();
    else
        copyFieldToSetting(id);
}

void MainWindowLogic::copyFieldToSetting(int id) {
    MailerSettings& s = app_.settings();
    switch (id) {
        case kServerEdit:
            s.popServer = fields_.popServer;
            break;
        case kUserNameEdit:
            s.popUser = fields_.popUser;
            break;
        case kPasswordEdit:
            s.popPassword = fields_.popPassword;
            break;
        case kStationNameEdit:
            s.stationName = fields_.stationName;
            break;
        case kFromUserEdit:
            s.fromUser = fields_.fromUser;
            break;
        case kTempDirEdit:
            s.tempDir = fields_.tempDir;
            break;
        case kFirstSystemDirEdit:
            s.mornakDir = fields_.mornakDir;
            break;
        case kFirstRequestDirEdit:
            s.mornakReq = fields_.mornakReq;
            break;
        case kSecondSystemDirEdit:
            s.mornak2Dir = fields_.mornak2Dir;
            break;
        case kSecondRequestDirEdit:
            s.mornak2Req = fields_.mornak2Req;
            break;
        case kMapDriveEdit:
            s.mapDrive = fields_.mapDrive.empty() ? '\0' : fields_.mapDrive[0];
            break;
        default:
            break;
    }
}

// 0 becomes 1 in the field, the edit and the setting; anything above 30 taken as unsigned
// (every negative number too) sets 30 but stays in the field and the edit.
void MainWindowLogic::clampCheckEvery() {
    if (fields_.checkEvery == 0) {
        fields_.checkEvery = 1;
        app_.settings().popCheckTime = 1;
        view_.setText(kCheckEveryEdit, "1");
        onEditChanged(kCheckEveryEdit);
    } else if (static_cast<unsigned>(fields_.checkEvery) > kMaxCheckEvery) {
        app_.settings().popCheckTime = kMaxCheckEvery;
    } else {
        app_.settings().popCheckTime = fields_.checkEvery;
    }
}

void MainWindowLogic::onEnableClicked() {
    if (exchanging_ || ended_)
        return;
    exchangeFromControls();
    app_.settings().popEnable = fields_.enable;
    view_.setEnabled(kCheckNowButton, fields_.enable != 0);
}

void MainWindowLogic::onCheckNow() {
    app_.requestCheckNow();
    view_.setEnabled(kCheckNowButton, false);
}

void MainWindowLogic::onUpdate() {
    exchangeFromControls();
    app_.loadRecorderSystems();
}

void MainWindowLogic::onSave() {
    exchangeFromControls();
    app_.loadRecorderSystems();
    bool complete = windowSettingsComplete();
    saveSettings(app_.settings(), app_.settingsPath());
    view_.setEnabled(kEnableBox, complete);
    view_.setEnabled(kCheckNowButton, complete);
    view_.setEnabled(kSaveButton, false);
}

void MainWindowLogic::onBrowse(int buttonId) {
    MailerSettings& s = app_.settings();
    FixedText<256>* setting = nullptr;
    std::string* field = nullptr;
    int editId = 0;
    switch (buttonId) {
        case kFirstSystemDirBrowse:
            setting = &s.mornakDir, field = &fields_.mornakDir, editId = kFirstSystemDirEdit;
            break;
        case kFirstRequestDirBrowse:
            setting = &s.mornakReq, field = &fields_.mornakReq, editId = kFirstRequestDirEdit;
            break;
        case kSecondSystemDirBrowse:
            setting = &s.mornak2Dir, field = &fields_.mornak2Dir, editId = kSecondSystemDirEdit;
            break;
        case kSecondRequestDirBrowse:
            setting = &s.mornak2Req, field = &fields_.mornak2Req, editId = kSecondRequestDirEdit;
            break;
        default:
            return;
    }
    if (!pickDirectory(view_, *setting, *field))
        return;
    view_.setText(editId, *field);
    onEditChanged(editId);
}

void MainWindowLogic::onSmtpInfo() {
    SmtpInfoLogic dialog(app_.settings());
    if (!view_.runSmtpInfoDialog(dialog))
        return;
    dialog.commit(app_.settings(), app_.settingsPath());
    view_.setEnabled(kSaveButton, true);
    pollingControlsRule();
}

void MainWindowLogic::onClose() {
    if (ended_ || !view_.askExit())
        return;
    if (!exchangeFromControls())
        return;
    endWindow();
}

void MainWindowLogic::onCancel() {
    if (ended_ || !view_.askExit())
        return;
    endWindow();
}

// A second exit question (from the tray, while the first was open) ends nothing twice.
void MainWindowLogic::endWindow() {
    if (ended_)
        return;
    ended_ = true;
    view_.endWindow();
}

void MainWindowLogic::onTrayDoubleClick() {
    if (ended_)
        return;
    shown_ = !shown_ || view_.dialogOpen();
    view_.showWindow(shown_);
}

void MainWindowLogic::onTrayToggle() {
    onTrayDoubleClick();
}

void MainWindowLogic::onTrayExit() {
    if (ended_)
        return;
    if (!shown_) {
        view_.showWindow(true);
        shown_ = true;
    }
    onCancel();
}

void MainWindowLogic::onHideCommand() {
    shown_ = false;
    view_.showWindow(false);
}

void MainWindowLogic::onTrayAvailable(bool available) {
    if (ended_ || available == trayInUse_)
        return;
    trayInUse_ = available;
    view_.useTray(available);
    if (shown_)
        return;
    // A window hidden to the tray comes back when the tray goes; one minimised for want of a
    // tray hides to the tray that came.
    shown_ = !available;
    view_.showWindow(shown_);
}

std::string MainWindowLogic::trayMenuLabel() const {
    return shown_ && !view_.dialogOpen() ? "&Hide Window" : "&Show Window";
}

void MainWindowLogic::setCheckNowEnabled(bool enabled) {
    view_.setEnabled(kCheckNowButton, enabled);
}
