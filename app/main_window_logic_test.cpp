#include "app/main_window_logic.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "app/mailer_app.h"
#include "settings/smtp_info_logic.h"
#include "settings/text_routines.h"
#include "testing/fake_clock.h"
#include "testing/temp_dir.h"

namespace {

const char kComplete[] =
    "StationName=ANMO\nPopEnable=0\nPopServer=pop.example\nPopUser=robot\nPopKeyStr=7077\n"
    "PopCheckTime=2\nSmtpServer=smtp.example\nSmtpAuth=0\nFromUser=Robot <r@s>\nTempDir=/t/\n"
    "MapDrive=\nMornakDir=/m/\nMornakReq=/m/r/\n";

// The window's controls as plain values; every control starts enabled, as the layout has it.
class FakeWindowView final : public WindowView {
  public:
    std::string text(int id) override { return texts[id]; }
    void setText(int id, const std::string& t) override { texts[id] = t; }
    bool checked(int id) override { return checks[id]; }
    void setChecked(int id, bool c) override { checks[id] = c; }
    void setEnabled(int id, bool e) override { disabled[id] = !e; }
    void focus(int id) override { focused.push_back(id); }
    void showValidationMessage(const std::string& m) override { messages.push_back(m); }
    bool askExit() override {
        ++exitQuestions;
        if (auto during = std::exchange(duringExitQuestion, nullptr))
            during();
        return exitAnswer;
    }
    void showWindow(bool shown) override { shows.push_back(shown); }
    void useTray(bool use) override { trays.push_back(use); }
    bool dialogOpen() override { return dialogIsOpen; }
    void endWindow() override { ++ends; }
    bool runSmtpInfoDialog(SmtpInfoLogic& logic) override { return smtpDialog(logic); }
    bool chooseDirectory(const std::string& initial, std::string& chosen) override {
        pickerStart = initial;
        if (!pickerAnswer)
            return false;
        chosen = *pickerAnswer;
        return true;
    }

    bool enabled(int id) { return !disabled[id]; }

    std::map<int, std::string> texts;
    std::map<int, bool> checks;
    std::map<int, bool> disabled;
    std::vector<int> focused;
    std::vector<std::string> messages;
    int exitQuestions = 0;
    bool exitAnswer = true;
    std::function<void()> duringExitQuestion;  // runs once, while the question is open
    std::vector<bool> shows;
    std::vector<bool> trays;
    bool dialogIsOpen = false;
    int ends = 0;
    std::function<bool(SmtpInfoLogic&)> smtpDialog = [](SmtpInfoLogic&) { return false; };
    std::optional<std::string> pickerAnswer;
    std::string pickerStart;
};

// A started window on a settings file in a temp dir.
class MainWindowLogicTest : public ::testing::Test {
  protected:
    void start(const std::string& ini) {
        if (!ini.empty())
            writeFile(dir.file("tarnwick.ini"), ini);
        app.startUp();
        logic.startUp();
    }
    // Types a whole new text into an edit, as the edit reports it.
    void type(int id, const std::string& text) {
        view.texts[id] = text;
        logic.onEditChanged(id);
    }
    MailerSettings& settings() { return app.settings(); }

    TempDir dir;
    FakeClock clock;
    MailerApp app{clock, dir.path()};
    FakeWindowView view;
    MainWindowLogic logic{app, view};
};

const char kRange[] = "Please enter an integer between 1 and 30.";

}  // namespace

TEST_F(MainWindowLogicTest, StartUpWithCompleteSettingsSwitchesPollingOn) {
    start(kComplete);
    EXPECT_EQ("pop.example", view.texts[kServerEdit]);
    EXPECT_EQ("pw", view.texts[kPasswordEdit]);
    EXPECT_EQ("2", view.texts[kCheckEveryEdit]);
    EXPECT_EQ("", view.texts[kMapDriveEdit]);
    EXPECT_TRUE(view.checks[kEnableBox]);
    EXPECT_TRUE(view.enabled(kEnableBox));
    EXPECT_TRUE(view.enabled(kCheckNowButton));
    EXPECT_FALSE(view.enabled(kSaveButton));
    EXPECT_EQ(1, settings().popEnable);
    EXPECT_EQ(1, logic.fields().enable);
    EXPECT_TRUE(logic.shown());
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(MainWindowLogicTest, StartUpWithoutSettingsFileHasPollingOff) {
    start("");
    EXPECT_EQ("2", view.texts[kCheckEveryEdit]);
    EXPECT_EQ("", view.texts[kServerEdit]);
    EXPECT_FALSE(view.checks[kEnableBox]);
    EXPECT_FALSE(view.enabled(kEnableBox));
    EXPECT_FALSE(view.enabled(kCheckNowButton));
    EXPECT_EQ(0, settings().popEnable);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_TRUE(fileExists(dir.file("tarnwick.ini")));
}

TEST_F(MainWindowLogicTest, StartUpWithStoredIntervalOutOfRangeWarnsAndGoesOn) {
    start(std::string(kComplete) + "PopCheckTime=45\n");
    EXPECT_EQ(std::vector<std::string>{kRange}, view.messages);
    EXPECT_EQ(std::vector<int>{kCheckEveryEdit}, view.focused);
    EXPECT_EQ("45", view.texts[kCheckEveryEdit]);
    EXPECT_EQ(45, settings().popCheckTime);
    EXPECT_EQ(1, settings().popEnable);  // 45 still passes the completeness test
}

TEST_F(MainWindowLogicTest, LeavingCheckEveryWith45KeepsTheEditAndStores30) {
    start(kComplete);
    type(kCheckEveryEdit, "4");
    EXPECT_TRUE(view.messages.empty());
    type(kCheckEveryEdit, "45");
    EXPECT_EQ(std::vector<std::string>{kRange}, view.messages);
    EXPECT_EQ(2, settings().popCheckTime);  // nothing copied before the focus leaves
    logic.onFocusLost(kCheckEveryEdit);
    EXPECT_EQ((std::vector<std::string>{kRange, kRange}), view.messages);
    EXPECT_EQ(30, settings().popCheckTime);
    EXPECT_EQ("45", view.texts[kCheckEveryEdit]);
    EXPECT_EQ(45, logic.fields().checkEvery);
    EXPECT_EQ((std::vector<int>{kCheckEveryEdit, kCheckEveryEdit}), view.focused);
}

TEST_F(MainWindowLogicTest, LeavingCheckEveryWithZeroSetsOne) {
    start(kComplete);
    type(kCheckEveryEdit, "0");
    logic.onFocusLost(kCheckEveryEdit);
    EXPECT_EQ((std::vector<std::string>{kRange, kRange}), view.messages);
    EXPECT_EQ("1", view.texts[kCheckEveryEdit]);
    EXPECT_EQ(1, settings().popCheckTime);
    EXPECT_EQ(1, logic.fields().checkEvery);
}

TEST_F(MainWindowLogicTest, NegativeIntervalStores30AndSwitchesPollingOff) {
    start(kComplete);
    type(kCheckEveryEdit, "-3");
    logic.onFocusLost(kCheckEveryEdit);
    EXPECT_EQ(30, settings().popCheckTime);
    EXPECT_EQ("-3", view.texts[kCheckEveryEdit]);
    EXPECT_FALSE(view.enabled(kEnableBox));
    EXPECT_EQ(0, settings().popEnable);
}

TEST_F(MainWindowLogicTest, EmptyingCheckEveryAsksForAnIntegerAtOnce) {
    start(kComplete);
    type(kCheckEveryEdit, "");
    EXPECT_EQ(std::vector<std::string>{"Please enter an integer."}, view.messages);
    EXPECT_EQ(2, logic.fields().checkEvery);  // the field keeps the last good number
    EXPECT_TRUE(view.enabled(kSaveButton));
    EXPECT_TRUE(view.enabled(kEnableBox));  // the rule went on with the fields as they stand
    type(kCheckEveryEdit, "x7");
    logic.onFocusLost(kCheckEveryEdit);
    EXPECT_EQ(2, settings().popCheckTime);
    EXPECT_EQ(3u, view.messages.size());
}

TEST_F(MainWindowLogicTest, FailedCheckLeavesLaterFieldsUnread) {
    start(kComplete);
    view.texts[kServerEdit] = "new.pop";
    view.texts[kStationNameEdit] = "NEW";
    view.texts[kCheckEveryEdit] = "99";
    EXPECT_FALSE(logic.exchangeFromControls());
    EXPECT_EQ("new.pop", logic.fields().popServer);
    EXPECT_EQ("ANMO", logic.fields().stationName);
    EXPECT_EQ(99, logic.fields().checkEvery);

    view.texts[kCheckEveryEdit] = "5";
    view.texts[kMapDriveEdit] = "DE";
    EXPECT_FALSE(logic.exchangeFromControls());
    EXPECT_EQ("Please enter no more than 1 characters.", view.messages.back());
    EXPECT_EQ(kMapDriveEdit, view.focused.back());
    EXPECT_EQ("ANMO", logic.fields().stationName);
    view.texts[kMapDriveEdit] = "E";
    EXPECT_TRUE(logic.exchangeFromControls());
    EXPECT_EQ("NEW", logic.fields().stationName);
}

TEST_F(MainWindowLogicTest, EmptyServerSwitchesPollingOffUntilSave) {
    start(kComplete);
    type(kServerEdit, "");
    EXPECT_FALSE(view.enabled(kEnableBox));
    EXPECT_FALSE(view.checks[kEnableBox]);
    EXPECT_FALSE(view.enabled(kCheckNowButton));
    EXPECT_EQ(0, settings().popEnable);
    EXPECT_EQ("pop.example", settings().popServer);  // copied only on focus loss

    view.setEnabled(kSaveButton, false);
    type(kServerEdit, "pop.example");
    EXPECT_TRUE(view.enabled(kSaveButton));
    EXPECT_FALSE(view.enabled(kEnableBox));
    EXPECT_FALSE(view.enabled(kCheckNowButton));
    EXPECT_EQ(0, settings().popEnable);

    logic.onSave();
    EXPECT_TRUE(view.enabled(kEnableBox));
    EXPECT_FALSE(view.checks[kEnableBox]);
    EXPECT_TRUE(view.enabled(kCheckNowButton));
    EXPECT_FALSE(view.enabled(kSaveButton));
    EXPECT_EQ(0, settings().popEnable);
    EXPECT_NE(std::string::npos, readFile(dir.file("tarnwick.ini")).find("\nPopEnable=0\n"));
}

TEST_F(MainWindowLogicTest, SaveWithIncompleteSettingsKeepsPollingControlsOff) {
    start(kComplete);
    type(kStationNameEdit, "");
    logic.onFocusLost(kStationNameEdit);
    logic.onSave();
    EXPECT_FALSE(view.enabled(kEnableBox));
    EXPECT_FALSE(view.enabled(kCheckNowButton));
    EXPECT_EQ(
        "StationName=\nPopEnable=0\nPopServer=pop.example\nPopUser=robot\nPopKeyStr=7077\n"
        "PopCheckTime=2\nSmtpServer=smtp.example\nSmtpAuth=0\nSmtpUser=\nSmtpKeyStr=\n"
        "FromUser=Robot <r@s>\nTempDir=/t/\nMapDrive=" +
            std::string(1, '\0') + "\nMornakDir=/m/\nMornakReq=/m/r/\nMornak2Dir=\nMornak2Req=\n",
        readFile(dir.file("tarnwick.ini")));
}

TEST_F(MainWindowLogicTest, FocusLossCopiesOneFieldCutToItsCapacity) {
    start(kComplete);
    view.texts[kUserNameEdit] = "other";
    type(kTempDirEdit, std::string(300, 't'));
    logic.onFocusLost(kTempDirEdit);
    EXPECT_EQ(std::string(244, 't'), settings().tempDir);
    EXPECT_EQ("robot", settings().popUser);  // only the field that lost the focus
    type(kMapDriveEdit, "E");
    logic.onFocusLost(kMapDriveEdit);
    EXPECT_EQ('E', settings().mapDrive);
    type(kMapDriveEdit, "");
    logic.onFocusLost(kMapDriveEdit);
    EXPECT_EQ('\0', settings().mapDrive);
    logic.onFocusLost(kUserNameEdit);
    EXPECT_EQ("other", settings().popUser);
}

TEST_F(MainWindowLogicTest, EnableTickSwitchesPollingAndCheckNow) {
    start(kComplete);
    view.checks[kEnableBox] = false;
    logic.onEnableClicked();
    EXPECT_EQ(0, settings().popEnable);
    EXPECT_FALSE(view.enabled(kCheckNowButton));
    view.checks[kEnableBox] = true;
    logic.onEnableClicked();
    EXPECT_EQ(1, settings().popEnable);
    EXPECT_TRUE(view.enabled(kCheckNowButton));
    logic.onCheckNow();
    EXPECT_FALSE(view.enabled(kCheckNowButton));
    logic.setCheckNowEnabled(true);
    EXPECT_TRUE(view.enabled(kCheckNowButton));
}

TEST_F(MainWindowLogicTest, BrowseStoresTheChosenDirectoryInOneSetting) {
    start(kComplete);
    ASSERT_EQ(0, ::mkdir(dir.file("Data").c_str(), 0700));
    ASSERT_EQ(0, ::mkdir(dir.file("Data/Events").c_str(), 0700));
    view.pickerAnswer = dir.file("Data/Events");
    logic.onBrowse(kSecondSystemDirBrowse);
    EXPECT_EQ("", view.pickerStart);
    // No lower-case twin names this directory, so its case stays.
    EXPECT_EQ(dir.file("Data/Events/"), settings().mornak2Dir);
    EXPECT_EQ(dir.file("Data/Events/"), view.texts[kSecondSystemDirEdit]);
    EXPECT_EQ(dir.file("Data/Events/"), logic.fields().mornak2Dir);
    EXPECT_TRUE(view.enabled(kSaveButton));
    EXPECT_EQ("/m/", settings().mornakDir);
    EXPECT_EQ("/m/r/", settings().mornakReq);
    EXPECT_EQ("", settings().mornak2Req);

    // Where the lower-case path names the same directory, it is stored lower-cased. The
    // temp dir's own name has upper-case letters, so this runs on a relative path.
    ASSERT_EQ(0, ::symlink("Data", dir.file("data").c_str()));
    ASSERT_EQ(0, ::symlink("Events", dir.file("Data/events").c_str()));
    char old[4096];
    ASSERT_NE(nullptr, getcwd(old, sizeof old));
    ASSERT_EQ(0, chdir(dir.path().c_str()));
    view.pickerAnswer = "Data/Events";
    logic.onBrowse(kFirstSystemDirBrowse);
    EXPECT_EQ(0, chdir(old));
    EXPECT_EQ("/m/", view.pickerStart);
    EXPECT_EQ("data/events/", settings().mornakDir);
    EXPECT_EQ("data/events/", view.texts[kFirstSystemDirEdit]);
}

TEST_F(MainWindowLogicTest, CancelledBrowseChangesNothing) {
    start(kComplete);
    view.pickerAnswer.reset();
    logic.onBrowse(kFirstRequestDirBrowse);
    EXPECT_EQ("/m/r/", settings().mornakReq);
    EXPECT_EQ("/m/r/", view.texts[kFirstRequestDirEdit]);
    EXPECT_FALSE(view.enabled(kSaveButton));
}

TEST_F(MainWindowLogicTest, SmtpDialogOkEnablesSaveAndWritesOnlyOnChange) {
    start(std::string(kComplete) + "SmtpServer=\n");
    EXPECT_FALSE(view.enabled(kEnableBox));
    std::remove(dir.file("tarnwick.ini").c_str());
    view.smtpDialog = [](SmtpInfoLogic&) { return true; };
    logic.onSmtpInfo();
    EXPECT_TRUE(view.enabled(kSaveButton));
    EXPECT_FALSE(fileExists(dir.file("tarnwick.ini")));

    view.setEnabled(kSaveButton, false);
    view.smtpDialog = [](SmtpInfoLogic&) { return false; };
    logic.onSmtpInfo();
    EXPECT_FALSE(view.enabled(kSaveButton));

    struct Edits final : SmtpInfoView {
        std::string text(int id) override { return id == kSmtpServerEdit ? "smtp.new" : ""; }
        void setText(int, const std::string&) override {}
        void setEnabled(int, bool) override {}
        int selectedIndex() override { return 0; }
        void setSelectedIndex(int) override {}
    } edits;
    view.smtpDialog = [&](SmtpInfoLogic& d) {
        d.open(edits);
        d.accept(edits);
        return true;
    };
    logic.onSmtpInfo();
    EXPECT_EQ("smtp.new", settings().smtpServer);
    EXPECT_NE(std::string::npos,
              readFile(dir.file("tarnwick.ini")).find("\nSmtpServer=smtp.new\n"));
    // Complete again, but "Enable" comes back only through "&Save".
    EXPECT_FALSE(view.enabled(kEnableBox));
    EXPECT_FALSE(view.enabled(kCheckNowButton));
}

TEST_F(MainWindowLogicTest, ExitQuestionDecidesAndOkPathValidatesFirst) {
    start(kComplete);
    view.exitAnswer = false;
    logic.onClose();
    logic.onCancel();
    EXPECT_EQ(2, view.exitQuestions);
    EXPECT_EQ(0, view.ends);

    view.exitAnswer = true;
    view.texts[kCheckEveryEdit] = "31";
    logic.onClose();
    EXPECT_EQ(kRange, view.messages.back());
    EXPECT_EQ(0, view.ends);
    EXPECT_FALSE(logic.ended());

    logic.onCancel();  // the Cancel path does not validate
    EXPECT_EQ(1, view.ends);
    EXPECT_TRUE(logic.ended());
    EXPECT_EQ(1u, view.messages.size());
}

TEST_F(MainWindowLogicTest, CloseWithValidFieldsEndsTheWindow) {
    start(kComplete);
    logic.onClose();
    EXPECT_EQ(1, view.ends);
    logic.onClose();  // nothing after the end
    EXPECT_EQ(1, view.exitQuestions);
}

TEST_F(MainWindowLogicTest, TrayKeepsTheShownFlag) {
    start(kComplete);
    EXPECT_EQ("&Hide Window", logic.trayMenuLabel());
    logic.onHideCommand();
    EXPECT_FALSE(logic.shown());
    EXPECT_EQ("&Show Window", logic.trayMenuLabel());
    logic.onTrayToggle();
    EXPECT_TRUE(logic.shown());
    logic.onTrayDoubleClick();
    EXPECT_FALSE(logic.shown());
    logic.onTrayDoubleClick();
    EXPECT_TRUE(logic.shown());
    EXPECT_EQ((std::vector<bool>{false, true, false, true}), view.shows);
}

TEST_F(MainWindowLogicTest, CancelledExitFromTheTrayLeavesTheWindowShown) {
    start(kComplete);
    logic.onHideCommand();
    view.exitAnswer = false;
    logic.onTrayExit();
    EXPECT_TRUE(logic.shown());
    EXPECT_EQ((std::vector<bool>{false, true}), view.shows);
    EXPECT_EQ("&Hide Window", logic.trayMenuLabel());
    EXPECT_EQ(0, view.ends);
    view.exitAnswer = true;
    logic.onTrayExit();
    EXPECT_EQ(1, view.ends);
    EXPECT_EQ(2u, view.shows.size());  // already shown: not shown again
}

// The tray is looked for again and again; only a change counts. A hidden window stays within
// reach: shown when the tray goes, and when minimised without a tray, hidden to a new one.
TEST_F(MainWindowLogicTest, AHiddenWindowFollowsTheTray) {
    start(kComplete);
    logic.onTrayAvailable(false);
    logic.onTrayAvailable(true);
    logic.onTrayAvailable(true);
    EXPECT_EQ(std::vector<bool>{true}, view.trays);
    EXPECT_TRUE(view.shows.empty());
    logic.onTrayDoubleClick();
    logic.onTrayAvailable(false);
    EXPECT_TRUE(logic.shown());
    logic.onHideCommand();  // minimises, without a tray
    logic.onTrayAvailable(true);
    EXPECT_FALSE(logic.shown());
    EXPECT_EQ((std::vector<bool>{true, false, true}), view.trays);
    EXPECT_EQ((std::vector<bool>{false, true, false, false}), view.shows);
}

TEST_F(MainWindowLogicTest, WithADialogOpenTheTrayBringsTheWindowToTheFront) {
    start(kComplete);
    view.dialogIsOpen = true;
    EXPECT_EQ("&Show Window", logic.trayMenuLabel());
    logic.onTrayDoubleClick();
    logic.onTrayToggle();
    EXPECT_TRUE(logic.shown());
    EXPECT_EQ((std::vector<bool>{true, true}), view.shows);
    // The tray's exit asked again while the first question is open: two OKs end it once.
    view.duringExitQuestion = [this] { logic.onTrayExit(); };
    logic.onCancel();
    EXPECT_EQ(2, view.exitQuestions);
    EXPECT_EQ(1, view.ends);
}

TEST(MainWindowLogicUnwritable, SaveInADirectoryItCannotWriteGoesOn) {
    FakeClock clock;
    MailerApp app(clock, "/proc/no-such-dir/");
    FakeWindowView view;
    MainWindowLogic logic(app, view);
    app.startUp();
    logic.startUp();
    view.texts[kServerEdit] = "pop";
    logic.onEditChanged(kServerEdit);
    logic.onFocusLost(kServerEdit);
    logic.onSave();
    EXPECT_EQ("pop", app.settings().popServer);
    EXPECT_FALSE(view.enabled(kSaveButton));
}

TEST(ParseFieldInteger, TakesSignedDecimalWithBlanksOnly) {
    int v = 0;
    EXPECT_TRUE(parseFieldInteger(" 12 ", v));
    EXPECT_EQ(12, v);
    EXPECT_TRUE(parseFieldInteger("-7", v));
    EXPECT_EQ(-7, v);
    EXPECT_TRUE(parseFieldInteger("-2147483648", v));
    EXPECT_EQ(-2147483647 - 1, v);
    v = 5;
    EXPECT_FALSE(parseFieldInteger("", v));
    EXPECT_FALSE(parseFieldInteger("-", v));
    EXPECT_FALSE(parseFieldInteger("12a", v));
    EXPECT_FALSE(parseFieldInteger("1 2", v));
    EXPECT_FALSE(parseFieldInteger("2147483648", v));
    EXPECT_EQ(5, v);
}

TEST_F(MainWindowLogicTest, AnOAuth2LoginNeedsNoPasswordAndSaveKeepsTheOptionalKeys) {
    std::string ini = kComplete;
    ini.replace(ini.find("PopKeyStr="), std::string("PopKeyStr=").size(), "Unused=");
    start(ini + "PopAuthMethod=oauth2\nOAuth2ClientSecretStr=736563726574\n");
    EXPECT_TRUE(view.enabled(kEnableBox));
    type(kStationNameEdit, "NEW");
    logic.onFocusLost(kStationNameEdit);
    logic.onSave();
    std::string saved = readFile(dir.file("tarnwick.ini"));
    EXPECT_NE(std::string::npos,
              saved.find("Mornak2Req=\nPopAuthMethod=oauth2\nOAuth2ClientSecretStr=736563726574\n"))
        << saved;
    EXPECT_TRUE(view.enabled(kEnableBox));
}
