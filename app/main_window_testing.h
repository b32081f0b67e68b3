#pragma once

// A started main window for the Qt tests: complete settings in a temp dir, a fake clock.
#include <QTemporaryDir>

#include <fstream>
#include <memory>

#include "app/mailer_app.h"
#include "app/main_window.h"
#include "testing/fake_clock.h"

inline const char kCompleteSettings[] =
    "StationName=ANMO\nPopEnable=0\nPopServer=pop.example\nPopUser=robot\nPopKeyStr=7077\n"
    "PopCheckTime=2\nSmtpServer=smtp.example\nFromUser=Robot <r@s>\nTempDir=/t/\n"
    "MornakDir=/m/\nMornakReq=/m/r/\n";

struct StartedWindow {
    explicit StartedWindow(int tickMs = 1000) {
        std::ofstream(dir.filePath("tarnwick.ini").toStdString()) << kCompleteSettings;
        app = std::make_unique<MailerApp>(clock, dir.path().toStdString() + "/");
        window = std::make_unique<MainWindow>(*app);
        app->startUp();
        window->start(tickMs);
    }
    template <typename T>
    T* control(int id) {
        return window->findChild<T*>(QStringLiteral("id%1").arg(id));
    }

    QTemporaryDir dir;
    FakeClock clock;
    std::unique_ptr<MailerApp> app;
    std::unique_ptr<MainWindow> window;
};
