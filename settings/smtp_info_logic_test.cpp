#include "settings/smtp_info_logic.h"

#include <map>

#include <gtest/gtest.h>

#include "settings/mailer_settings.h"
#include "settings/text_routines.h"
#include "testing/temp_dir.h"

namespace {

class FakeSmtpInfoView final : public SmtpInfoView {
  public:
    std::string text(int id) override { return texts[id]; }
    void setText(int id, const std::string& t) override { texts[id] = t; }
    void setEnabled(int id, bool e) override { enabled[id] = e; }
    int selectedIndex() override { return selected; }
    void setSelectedIndex(int index) override { selected = index; }

    bool accountFieldsEnabled() {
        return enabled.at(kSmtpAccountLabel) && enabled.at(kSmtpAccountEdit) &&
               enabled.at(kSmtpPasswordLabel) && enabled.at(kSmtpPasswordEdit);
    }
    bool accountFieldsDisabled() {
        return !enabled.at(kSmtpAccountLabel) && !enabled.at(kSmtpAccountEdit) &&
               !enabled.at(kSmtpPasswordLabel) && !enabled.at(kSmtpPasswordEdit);
    }

    std::map<int, std::string> texts;
    std::map<int, bool> enabled;
    int selected = -2;
};

class SmtpInfoLogicTest : public ::testing::Test {
  protected:
    SmtpInfoLogicTest() {
        settings.smtpServer = "smtp.example";
        settings.smtpUser = "robot";
        settings.smtpPassword = "secret";
    }
    std::string path() { return dir.file("tarnwick.ini"); }

    TempDir dir;
    MailerSettings settings;
    FakeSmtpInfoView view;
};

}  // namespace

TEST_F(SmtpInfoLogicTest, OpensWithTheCopiesAndNoAuthenticationDisablesTheAccount) {
    SmtpInfoLogic logic(settings);
    logic.open(view);
    EXPECT_EQ("smtp.example", view.texts[kSmtpServerEdit]);
    EXPECT_EQ("robot", view.texts[kSmtpAccountEdit]);
    EXPECT_EQ("secret", view.texts[kSmtpPasswordEdit]);
    EXPECT_EQ(0, view.selected);
    EXPECT_TRUE(view.accountFieldsDisabled());

    view.texts[kSmtpServerEdit] = "typed.example";
    view.selected = 1;
    logic.selectionChanged(view);
    EXPECT_TRUE(view.accountFieldsEnabled());
    EXPECT_EQ(1, logic.authIndex());
    EXPECT_EQ("typed.example", logic.server());  // read back before the switch
}

TEST_F(SmtpInfoLogicTest, UnknownIndexSelectsNothingAndIsKept) {
    settings.smtpAuth = 5;
    SmtpInfoLogic logic(settings);
    logic.open(view);
    EXPECT_EQ(-1, view.selected);
    EXPECT_TRUE(view.accountFieldsEnabled());
    logic.selectionChanged(view);  // no item selected: the index stays
    EXPECT_EQ(5, logic.authIndex());
    logic.accept(view);
    EXPECT_EQ(0, logic.commit(settings, path()));
    EXPECT_EQ(5, settings.smtpAuth);
    EXPECT_FALSE(fileExists(path()));
}

TEST_F(SmtpInfoLogicTest, LetterCaseChangeWritesTheFile) {
    SmtpInfoLogic logic(settings);
    logic.open(view);
    view.texts[kSmtpServerEdit] = "SMTP.example";
    logic.accept(view);
    EXPECT_EQ(1, logic.commit(settings, path()));
    EXPECT_EQ("SMTP.example", settings.smtpServer);
    EXPECT_NE(std::string::npos, readFile(path()).find("\nSmtpServer=SMTP.example\n"));
}

TEST_F(SmtpInfoLogicTest, OkWithoutChangeWritesNothing) {
    SmtpInfoLogic logic(settings);
    logic.open(view);
    view.selected = 0;
    logic.selectionChanged(view);
    logic.accept(view);
    EXPECT_EQ(0, logic.commit(settings, path()));
    EXPECT_FALSE(fileExists(path()));
}

TEST_F(SmtpInfoLogicTest, AccountKeptWhenSwitchingToNoAuthentication) {
    settings.smtpAuth = 1;
    SmtpInfoLogic logic(settings);
    logic.open(view);
    EXPECT_TRUE(view.accountFieldsEnabled());
    view.texts[kSmtpAccountEdit] = "other";
    view.selected = 0;
    logic.selectionChanged(view);
    EXPECT_TRUE(view.accountFieldsDisabled());
    EXPECT_EQ("other", view.texts[kSmtpAccountEdit]);  // disabled fields keep their text
    logic.accept(view);
    EXPECT_EQ(1, logic.commit(settings, path()));
    EXPECT_EQ(0, settings.smtpAuth);
    EXPECT_EQ("other", settings.smtpUser);
    EXPECT_EQ("secret", settings.smtpPassword);
    EXPECT_NE(std::string::npos,
              readFile(path()).find("\nSmtpAuth=0\nSmtpUser=other\nSmtpKeyStr=736563726574\n"));
}

TEST_F(SmtpInfoLogicTest, OverlongTextComparesAsStored) {
    settings.smtpServer = std::string(300, 's');
    SmtpInfoLogic logic(settings);
    logic.open(view);
    view.texts[kSmtpServerEdit] = std::string(300, 's');
    logic.accept(view);
    EXPECT_EQ(0, logic.commit(settings, path()));
    view.texts[kSmtpServerEdit] = std::string(255, 's') + "x";
    logic.accept(view);
    EXPECT_EQ(0, logic.commit(settings, path()));  // the 256th character is never stored
}

TEST_F(SmtpInfoLogicTest, CancelLeavesSettingsAlone) {
    MailerSettings before = settings;
    {
        SmtpInfoLogic logic(settings);
        logic.open(view);
        view.texts[kSmtpServerEdit] = "changed";
        view.selected = 1;
        logic.selectionChanged(view);
    }
    EXPECT_EQ(before.smtpServer, settings.smtpServer);
    EXPECT_EQ(0, settings.smtpAuth);
    EXPECT_FALSE(fileExists(path()));
}
