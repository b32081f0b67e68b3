// The main window's real widgets on the offscreen platform.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>

#include "app/main_window_testing.h"
#include "testing/qt_testing.h"

namespace {

const char kRange[] = "Please enter an integer between 1 and 30.";

}  // namespace

class MainWindowGuiTest : public QObject {
    Q_OBJECT

  private slots:
    void startsWithTheSettingsAndPollingOn() {
        StartedWindow w;
        QCOMPARE(w.window->windowTitle(), QStringLiteral("Tarnwick Version 1.0"));
        QCOMPARE(w.control<QLineEdit>(kServerEdit)->text(), QStringLiteral("pop.example"));
        QCOMPARE(w.control<QLineEdit>(kPasswordEdit)->echoMode(), QLineEdit::Password);
        QVERIFY(w.control<QCheckBox>(kEnableBox)->isChecked());
        QVERIFY(w.control<QPushButton>(kCheckNowButton)->isEnabled());
        QVERIFY(!w.control<QPushButton>(kSaveButton)->isEnabled());
        auto* list = w.control<QListWidget>(kActivityList);
        // The recorder directory of these settings holds no configuration.
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(0)->text(), QStringLiteral("02/19 07:05:09 Program Startup..."));
        QCOMPARE(list->item(1)->text(),
                 QStringLiteral("02/19 07:05:09 First MORNAK INI parse error"));
        QCOMPARE(list->currentRow(), 1);
        QVERIFY(w.window->trayIcon() == nullptr);  // no system tray offscreen
        // A dialog-type window of fixed size without a maximise button.
        QCOMPARE(w.window->windowType(), Qt::Dialog);
        QVERIFY(!(w.window->windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(w.window->minimumSize(), w.window->maximumSize());
    }

    // "Check Now" disables itself; the focus stays off the edits and comes back to the button.
    void checkNowLeavesTheFocusWhereTypingDoesNoHarm() {
        StartedWindow w;
        QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
        auto* checkNow = w.control<QPushButton>(kCheckNowButton);
        checkNow->setFocus();
        QTest::keyClick(checkNow, Qt::Key_Space);
        QVERIFY(!checkNow->isEnabled());
        QCOMPARE(QApplication::focusWidget(), w.window.get());
        QTest::keyClicks(QApplication::focusWidget(), "zz");
        for (auto* edit : w.window->findChildren<QLineEdit*>())
            QVERIFY(!edit->text().contains("zz"));
        w.window->logic().setCheckNowEnabled(true);  // as the request cycle does
        QCOMPARE(QApplication::focusWidget(), checkNow);
    }

    // --tick-ms: the window's timer runs the robot's tick at that period (50 ticks here come
    // long before the 20 seconds that a one-second tick would need for them).
    void theTickFollowsTheGivenPeriod() {
        StartedWindow w(10);
        int start = w.app->cycle().resendCountdown();
        QTRY_VERIFY_WITH_TIMEOUT(w.app->cycle().resendCountdown() <= start - 50, 15000);
    }

    void focusLossCopiesTheFieldIntoTheSettings() {
        StartedWindow w;
        QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
        auto* server = w.control<QLineEdit>(kServerEdit);
        server->setFocus();
        server->selectAll();
        QTest::keyClicks(server, "mail.example");
        QCOMPARE(w.app->settings().popServer.str(), std::string("pop.example"));
        QVERIFY(w.control<QPushButton>(kSaveButton)->isEnabled());
        w.control<QLineEdit>(kUserNameEdit)->setFocus();
        QCOMPARE(w.app->settings().popServer.str(), std::string("mail.example"));

        auto* drive = w.control<QLineEdit>(kMapDriveEdit);
        drive->setFocus();
        QTest::keyClicks(drive, "ef");  // one character only, shown in upper case
        QCOMPARE(drive->text(), QStringLiteral("E"));
        server->setFocus();
        QCOMPARE(w.app->settings().mapDrive, 'E');
    }

    // Another program taking the activation takes the focus from the edit too; the program's
    // own message boxes do not.
    void focusLossToAnotherProgramCopiesTheField() {
        StartedWindow w;
        QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
        auto* station = w.control<QLineEdit>(kStationNameEdit);
        station->setFocus();
        station->selectAll();
        QTest::keyClicks(station, "TUC");
        QCOMPARE(w.app->settings().stationName.str(), std::string("ANMO"));
        QApplication::setActiveWindow(nullptr);
        QCOMPARE(w.app->settings().stationName.str(), std::string("TUC"));

        w.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
        station->setFocus();
        QTest::keyClicks(station, "X");
        ModalAnswerer answerer(QMessageBox::Cancel);
        QTest::keyClick(station, Qt::Key_Escape);  // the exit question takes the activation
        QCOMPARE(answerer.texts, std::vector<std::string>{"Exit Program"});
        QCOMPARE(w.app->settings().stationName.str(), std::string("TUC"));
    }

    void leavingCheckEveryWith45ShowsTheRangeMessage() {
        StartedWindow w;
        QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
        ModalAnswerer answerer(QMessageBox::Ok);
        auto* every = w.control<QLineEdit>(kCheckEveryEdit);
        every->setFocus();
        every->selectAll();
        QTest::keyClicks(every, "45");  // the range message comes at once
        QCOMPARE(answerer.texts.size(), std::size_t(1));
        QCOMPARE(w.app->settings().popCheckTime, 2);
        w.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
        QCOMPARE(QApplication::focusWidget(), every);
        w.control<QLineEdit>(kServerEdit)->setFocus();
        QCOMPARE(answerer.texts, std::vector<std::string>(2, kRange));
        QCOMPARE(w.app->settings().popCheckTime, 30);
        QCOMPARE(every->text(), QStringLiteral("45"));
    }

    void exitQuestionAnsweredOkEndsTheWindow() {
        StartedWindow w;
        QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
        QSignalSpy ended(w.window.get(), &MainWindow::ended);
        ModalAnswerer answerer(QMessageBox::Ok);
        QTest::keyClick(w.window.get(), Qt::Key_Escape);
        QCOMPARE(answerer.texts, std::vector<std::string>{"Exit Program"});
        QCOMPARE(answerer.icons, std::vector<QMessageBox::Icon>{QMessageBox::Critical});
        QCOMPARE(ended.count(), 1);
        QVERIFY(!w.window->isVisible());
        QVERIFY(w.window->hasEnded());
    }

    void enterInAnEditAsksAndCancelKeepsTheWindow() {
        StartedWindow w;
        QVERIFY(QTest::qWaitForWindowActive(w.window.get()));
        QSignalSpy ended(w.window.get(), &MainWindow::ended);
        ModalAnswerer answerer(QMessageBox::Cancel);
        auto* station = w.control<QLineEdit>(kStationNameEdit);
        station->setFocus();
        QTest::keyClick(station, Qt::Key_Return);
        QCOMPARE(answerer.texts, std::vector<std::string>{"Exit Program"});
        QCOMPARE(ended.count(), 0);
        QVERIFY(w.window->isVisible());
        QVERIFY(w.window->logic().shown());
    }

    void hideWithoutATrayMinimises() {
        StartedWindow w;
        w.window->windowMenu().actions().at(0)->trigger();
        QVERIFY(!w.window->logic().shown());
        QVERIFY(w.window->isVisible());
        QVERIFY(w.window->windowState() & Qt::WindowMinimized);
        QCOMPARE(w.window->trayMenu().actions().at(0)->text(), QStringLiteral("&Hide Window"));
        emit w.window->trayMenu().aboutToShow();
        QCOMPARE(w.window->trayMenu().actions().at(0)->text(), QStringLiteral("&Show Window"));
        w.window->trayMenu().actions().at(0)->trigger();
        QVERIFY(w.window->logic().shown());
        QVERIFY(!(w.window->windowState() & Qt::WindowMinimized));
    }

    void windowMenuShowsTheAboutBox() {
        StartedWindow w;
        QStringList seen;
        ModalAnswerer answerer(QMessageBox::Ok, [&seen](QWidget* modal) {
            seen << modal->windowTitle();
            for (auto* label : modal->findChildren<QLabel*>()) seen << label->text();
            modal->findChild<QPushButton*>(QStringLiteral("id1"))->click();
        });
        QAction* about = w.window->windowMenu().actions().at(2);
        QCOMPARE(about->text(), QStringLiteral("&About Tarnwick..."));
        about->trigger();
        QCOMPARE(seen.mid(0, 3),
                 QStringList({"About Tarnwick", "Tarnwick Version 1.1", "Release Date: 2/18/03"}));
        QCOMPARE(seen.size(), 6);
        QVERIFY(w.window->isVisible());
    }

    void listKeepsTheNewest1000Selected() {
        StartedWindow w;
        for (int i = 2; i <= 1001; ++i) w.app->log().logMsg(false, "entry %d", i);
        auto* list = w.control<QListWidget>(kActivityList);
        QCOMPARE(list->count(), 1000);
        QCOMPARE(list->item(0)->text(), QStringLiteral("02/19 07:05:09 entry 2"));
        QCOMPARE(list->currentRow(), 999);
        QCOMPARE(list->currentItem()->text(), QStringLiteral("02/19 07:05:09 entry 1001"));
    }
};

int main(int argc, char** argv) {
    MainWindowGuiTest test;
    return runQtTests(argc, argv, {&test});
}

#include "main_window_gui_test.moc"
