// The SMTP Information, Statistics and directory dialogs' real widgets, offscreen.
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>

#include "activity/statistics.h"
#include "settings/directory_picker.h"
#include "settings/mailer_settings.h"
#include "settings/new_directory_dialog.h"
#include "settings/smtp_info_dialog.h"
#include "settings/statistics_dialog.h"
#include "settings/text_routines.h"
#include "testing/qt_testing.h"

namespace {

template <typename T>
T* control(QWidget* dialog, int id) {
    return dialog->findChild<T*>(QStringLiteral("id%1").arg(id));
}

QStringList valueTexts(QWidget* dialog) {
    QStringList texts;
    for (int id = kPopLoginAttemptsValue; id <= kBytesSentValue; ++id)
        texts << control<QLabel>(dialog, id)->text();
    return texts;
}

// The names under parent, sorted.
QStringList childNames(const QAbstractItemModel* model, const QModelIndex& parent) {
    QStringList names;
    for (int row = 0; row < model->rowCount(parent); ++row)
        names << model->index(row, 0, parent).data().toString();
    names.sort();
    return names;
}

}  // namespace

class DialogsGuiTest : public QObject {
    Q_OBJECT

  private slots:
    void statisticsShowCountersLiveAndClear() {
        Statistics stats;
        stats.popLoginAttempts = 2;
        stats.goodPopLogins = 1;
        stats.badPopLogins = 1;
        StatisticsDialog dialog(stats, nullptr);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Statistics"));
        dialog.show();
        QCOMPARE(valueTexts(&dialog), QStringList({"2", "1", "1", "0", "0", "0"}));
        stats.popLoginAttempts = 3;
        stats.bytesSent = 4096;
        QTRY_COMPARE(valueTexts(&dialog), QStringList({"3", "1", "1", "0", "0", "4096"}));
        control<QPushButton>(&dialog, 3)->click();
        QCOMPARE(valueTexts(&dialog), QStringList({"0", "0", "0", "0", "0", "0"}));
        QCOMPARE(stats.popLoginAttempts, 0);
        QVERIFY(control<QPushButton>(&dialog, 1)->isDefault());
    }

    void smtpInfoEnablesTheAccountWithTheAuthenticationType() {
        MailerSettings settings;
        settings.smtpServer = "smtp.example";
        settings.smtpUser = "robot";
        SmtpInfoLogic logic(settings);
        SmtpInfoDialog dialog(logic, nullptr);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("SMTP Information"));
        auto* combo = control<QComboBox>(&dialog, kSmtpAuthCombo);
        QCOMPARE(combo->itemText(0), QStringLiteral("No Authentication"));
        QCOMPARE(combo->itemText(1), QStringLiteral("Authentication Login"));
        QCOMPARE(combo->currentIndex(), 0);
        QVERIFY(!control<QLineEdit>(&dialog, kSmtpAccountEdit)->isEnabled());
        QVERIFY(!control<QLabel>(&dialog, kSmtpPasswordLabel)->isEnabled());
        QCOMPARE(control<QLineEdit>(&dialog, kSmtpAccountEdit)->text(), QStringLiteral("robot"));

        combo->setCurrentIndex(1);
        emit combo->activated(1);
        QVERIFY(control<QLineEdit>(&dialog, kSmtpAccountEdit)->isEnabled());
        QVERIFY(control<QLineEdit>(&dialog, kSmtpPasswordEdit)->isEnabled());
        control<QLineEdit>(&dialog, kSmtpServerEdit)->setText("SMTP.example");
        control<QPushButton>(&dialog, 1)->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QTemporaryDir dir;
        QCOMPARE(logic.commit(settings, dir.filePath("tarnwick.ini").toStdString()), 1);
        QCOMPARE(settings.smtpServer.str(), std::string("SMTP.example"));
        QCOMPARE(settings.smtpAuth, 1);
    }

    void smtpInfoWithAnUnknownIndexSelectsNothing() {
        MailerSettings settings;
        settings.smtpAuth = 5;
        SmtpInfoLogic logic(settings);
        SmtpInfoDialog dialog(logic, nullptr);
        QCOMPARE(control<QComboBox>(&dialog, kSmtpAuthCombo)->currentIndex(), -1);
        QVERIFY(control<QLineEdit>(&dialog, kSmtpAccountEdit)->isEnabled());
        control<QPushButton>(&dialog, 1)->click();
        QCOMPARE(logic.authIndex(), 5);
    }

    void newDirectoryStaysOpenOnFailure() {
        QTemporaryDir dir;
        NewDirectoryDialog dialog(dir.path().toStdString(), nullptr);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("New Directory"));
        QCOMPARE(control<QLineEdit>(&dialog, 1201)->text(), dir.path() + "/");
        dialog.show();
        ModalAnswerer answerer(QMessageBox::Ok);
        control<QLineEdit>(&dialog, 1200)->setText("a/b");
        control<QPushButton>(&dialog, 1)->click();
        QCOMPARE(answerer.texts, std::vector<std::string>{"Error creating new directory"});
        QVERIFY(dialog.isVisible());
        control<QLineEdit>(&dialog, 1200)->setText("2003");
        control<QPushButton>(&dialog, 1)->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.newPath(), dir.path().toStdString() + "/2003");
        QVERIFY(dirExists(dialog.newPath()));
    }

    void pickerNewEndsWithTheCreatedDirectory() {
        QTemporaryDir dir;
        DirectoryPicker picker(dir.path().toStdString() + "/", nullptr);
        QCOMPARE(control<QLabel>(&picker, 1088)->text(), dir.path());
        QVERIFY(!control<QPushButton>(&picker, 355)->isEnabled());
        picker.show();
        ModalAnswerer answerer(QMessageBox::Ok, [](QWidget* modal) {
            if (auto* newDir = qobject_cast<NewDirectoryDialog*>(modal)) {
                control<QLineEdit>(newDir, 1200)->setText("events");
                control<QPushButton>(newDir, 1)->click();
            }
        });
        control<QPushButton>(&picker, 241)->click();
        QCOMPARE(picker.result(), int(QDialog::Accepted));
        QCOMPARE(picker.chosenDirectory(), dir.path().toStdString() + "/events");
        QVERIFY(dirExists(picker.chosenDirectory()));
    }

    // The start directory stays in view while its parent's 80 entries arrive around it; the
    // root offers every folder but /proc, /sys and /dev; the tree is the label's buddy, so the
    // label's "&" is a mnemonic: Alt+D puts the focus in the tree.
    void pickerKeepsTheStartInViewLeavesOutTheSystemFoldersAndHasItsMnemonic() {
        QTemporaryDir dir;
        for (int i = 0; i < 80; ++i)
            QDir(dir.path()).mkdir(QStringLiteral("d%1").arg(i, 2, 10, QChar('0')));
        DirectoryPicker picker(dir.filePath("d70").toStdString(), nullptr);
        picker.show();
        auto* tree = control<QTreeView>(&picker, 1121);
        QTRY_COMPARE(tree->currentIndex().row(), 70);  // listed and sorted
        QCOMPARE(tree->currentIndex().data().toString(), QStringLiteral("d70"));
        QVERIFY(tree->viewport()->rect().contains(tree->visualRect(tree->currentIndex())));

        QModelIndex root = tree->model()->index(0, 0);
        QCOMPARE(tree->model()->rowCount(), 1);
        QCOMPARE(root.data().toString(), QStringLiteral("/"));
        QStringList offered = QDir("/").entryList(QDir::AllDirs | QDir::NoDotAndDotDot);
        for (const char* left : {"proc", "sys", "dev"}) QVERIFY(offered.removeOne(left));
        offered.sort();
        QTRY_COMPARE(childNames(tree->model(), root), offered);

        QVERIFY(QTest::qWaitForWindowActive(&picker));
        QCOMPARE(picker.findChild<QLabel*>(QStringLiteral("label1121"))->buddy(), tree);
        control<QPushButton>(&picker, 1)->setFocus();
        QTest::keyClick(&picker, Qt::Key_D, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget(), tree);
    }

    void pickerStartsAtTheNearestExistingParent() {
        QTemporaryDir dir;
        DirectoryPicker picker(dir.path().toStdString() + "/gone/deeper/", nullptr);
        QCOMPARE(control<QLabel>(&picker, 1088)->text(), dir.path());
        QCOMPARE(picker.chosenDirectory(), dir.path().toStdString());
    }
};

int main(int argc, char** argv) {
    DialogsGuiTest test;
    return runQtTests(argc, argv, {&test});
}

#include "dialogs_gui_test.moc"
