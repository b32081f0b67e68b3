// Renders the main window, the SMTP Information dialog and the Statistics dialog with sample
// settings to PNG files: desktop_screenshots OUTPUT_DIR STATION_DIR. STATION_DIR holds the
// recorder's configuration in mornak/ (as recorder-sim --init writes it), its request
// directory requests/ and the temporary directory tmp/. Run it under a display (Xvfb). It
// writes nothing and fails when the start-up logs anything but "Program Startup...", so the
// pictures always show a healthy run.
#include <QApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <fstream>
#include <string>

#include "app/mailer_app.h"
#include "app/main_window.h"
#include "settings/smtp_info_dialog.h"
#include "settings/statistics_dialog.h"
#include "testing/fake_clock.h"

namespace {

std::string sampleSettings(const std::string& station) {
    return "StationName=ANMO\nPopEnable=1\nPopServer=mail.example.org\nPopUser=anmo-robot\n"
           "PopKeyStr=736563726574\nPopCheckTime=5\nSmtpServer=smtp.example.org\nSmtpAuth=1\n"
           "SmtpUser=anmo-robot\nSmtpKeyStr=736563726574\n"
           "FromUser=ANMO Station <anmo-robot@example.org>\nTempDir=" +
           station + "/tmp/\nMapDrive=\nMornakDir=" + station + "/mornak/\nMornakReq=" + station +
           "/requests/\nMornak2Dir=\nMornak2Req=\n";
}

// Shows the widget, lets it paint, and saves it; returns false when the file was not written.
bool save(QWidget& widget, const QString& path) {
    widget.show();
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();
    bool ok = widget.grab().save(path);
    std::fprintf(stderr, "%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: desktop_screenshots OUTPUT_DIR STATION_DIR\n");
        return 2;
    }
    QApplication qtApp(argc, argv);
    QString out = QString::fromLocal8Bit(argv[1]) + "/";
    QTemporaryDir config;
    std::ofstream(config.filePath("tarnwick.ini").toStdString()) << sampleSettings(argv[2]);

    FakeClock clock;
    MailerApp app(clock, config.path().toStdString() + "/");
    MainWindow window(app);
    app.startUp();
    window.start(1000);
    if (app.log().entries().size() != 1) {
        for (const std::string& entry : app.log().entries())
            std::fprintf(stderr, "%s\n", entry.c_str());
        std::fprintf(stderr, "desktop_screenshots: the start-up was not clean; nothing written\n");
        return 1;
    }
    clock.local.minute = 9;
    app.log().logMsg(false, "Checking for new email messages...");
    app.log().logMsg(false, "New messages: %d", 2);
    app.log().logMsg(false, "File Req: %s", "2 18 2003 14 30 5 20 bhz,bhn alice@uni.example");
    clock.local.second = 12;
    app.log().logMsg(false, "MORNAK Response: %s", "ok 2 files");
    clock.local.second = 13;
    app.log().logMsg(false, "Info Req: %s", "carol@net.example");
    clock.local.minute = 14;
    app.log().logMsg(false, "Checking for new email messages...");
    app.log().logMsg(false, "No new email messages");
    bool ok = save(window, out + "main-window.png");

    SmtpInfoLogic smtpLogic(app.settings());
    SmtpInfoDialog smtp(smtpLogic, &window);
    ok = save(smtp, out + "smtp-info.png") && ok;
    smtp.hide();

    app.statistics().popLoginAttempts = 12;
    app.statistics().goodPopLogins = 11;
    app.statistics().badPopLogins = 1;
    app.statistics().requestFiles = 3;
    app.statistics().eventFilesSent = 3;
    app.statistics().bytesSent = 184320;
    StatisticsDialog stats(app.statistics(), &window);
    ok = save(stats, out + "statistics.png") && ok;
    return ok ? 0 : 1;
}
