#include "app/desktop.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

#include "app/mailer_app.h"
#include "app/main_window.h"

namespace {

const char kDisplayFailed[] =
    "tarnwick: the desktop window could not open the display; run tarnwick --headless to run "
    "without a window\n";

// While the toolkit starts: a fatal message (no platform plugin, a display that cannot be
// opened) ends the process with the one-line explanation and code 2 instead of an abort.
void startupMessageHandler(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
    if (type != QtFatalMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
        return;
    }
    std::fputs(kDisplayFailed, stderr);
    std::fflush(stderr);
    std::_Exit(2);
}

}  // namespace

int runDesktop(MailerApp& app, int tickMs, int argc, char** argv) {
    // Only the program name goes to the toolkit; the command line is ours.
    int qtArgc = 1;
    char* qtArgv[] = {argc > 0 ? argv[0] : const_cast<char*>("tarnwick"), nullptr};
    qInstallMessageHandler(startupMessageHandler);
    QApplication qtApp(qtArgc, qtArgv);
    qInstallMessageHandler(nullptr);
    // Hiding to the tray or closing a dialog must not end the program; only a confirmed exit.
    qtApp.setQuitOnLastWindowClosed(false);

    MainWindow window(app);
    QObject::connect(&window, &MainWindow::ended, &qtApp, &QCoreApplication::quit);
    app.startUp();
    window.start(tickMs);
    if (window.hasEnded())
        return 0;
    return qtApp.exec();
}
