// The main window on a real X server (Xvfb) with a real window manager (openbox, or xfwm4 or
// kwin_x11 as TARNWICK_TEST_WM names) and a real system tray (trayer), all started here. Exits with
// 77 (skipped) and says why when they cannot be started.
#include <signal.h>
#include <stdlib.h>

#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include <atomic>

#include "app/main_window_testing.h"
#include "testing/process.h"
#include "testing/qt_testing.h"

namespace {

constexpr int kSkipped = 77;
const char kMainTitle[] = "Tarnwick Version 1.0";
constexpr int kLayoutHeight = 600;  // the window's height in its layout file

// The output of a command run to its end, empty when it failed.
QString output(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

QString xProperty(WId window, const char* name) {
    return output("xprop", {"-id", QString::number(window), name});
}

// Clicks on the middle of an X window, as the pointer would, count times in a row.
void click(WId window, int button, int count) {
    output("xdotool",
           {"mousemove", "--window", QString::number(window), "8", "8", "click", "--repeat",
            QString::number(count), "--delay", "60", QString::number(button)});
}

// The native window of the tray icon, once the tray has taken it in and shows it.
WId trayIconWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qstrcmp(w->metaObject()->className(), "QSystemTrayIconSys") == 0 && w->isVisible() &&
            output("xwininfo", {"-id", QString::number(w->winId())}).contains("IsViewable"))
            return w->winId();
    return 0;
}

// A helper program found on PATH, asked to end when the test is done.
struct Helper {
    Helper(const std::string& program, std::vector<std::string> args, const std::string& out) {
        std::string path =
            QStandardPaths::findExecutable(QString::fromStdString(program)).toStdString();
        if (path.empty())
            return;
        args.insert(args.begin(), path);
        child = std::make_unique<ChildProcess>(args, out);
    }
    ~Helper() {
        if (child && child->signal(SIGTERM))
            child->wait(3000);
    }
    std::unique_ptr<ChildProcess> child;
};

bool waitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 200; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// An operator at the keyboard and mouse, on a thread of its own so that the window and its
// modal loops run meanwhile. Each step waits, with a generous limit, for the window it means
// to have the keyboard focus (by its title) before it types; the first failure is kept.
class Operator {
  public:
    explicit Operator(std::function<void(Operator&)> script)
        : thread_([this, script] {
              script(*this);
              if (!failure.empty())  // what the script left open would hold the test up
                  later([] {
                      while (QWidget* modal = QApplication::activeModalWidget()) modal->close();
                  });
              done = true;
          }) {}
    ~Operator() { thread_.join(); }

    // Waits for the window titled title to have the focus, then runs xdotool with args there.
    void at(const std::string& title, std::vector<std::string> args) {
        if (waitForFocus(title) && !args.empty())
            xdotool(std::move(args));
    }
    bool waitForFocus(const std::string& title) {
        std::string focused;
        for (int i = 0; i < 600 && failure.empty(); ++i) {
            focused = xdotool({"getwindowfocus", "getwindowname", "getwindowfocus"});
            if (focused.substr(0, focused.find('\n')) == title)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (failure.empty())
            failure = "waited for \"" + title + "\" to have the focus; it is on " + focused;
        return false;
    }
    // Runs an xdotool command (key, type, mouse) once the script has not failed.
    std::string xdotool(std::vector<std::string> args) {
        std::string out;
        if (failure.empty()) {
            args.insert(args.begin(), xdotoolPath_);
            runCommand(args, 10000, &out);
        }
        return out;
    }
    // Waits, with a generous limit, for the condition, asked on the GUI thread, to hold.
    bool until(const std::string& what, const std::function<bool()>& condition) {
        for (int i = 0; i < 600 && failure.empty(); ++i) {
            bool holds = false;
            QMetaObject::invokeMethod(qApp, condition, Qt::BlockingQueuedConnection, &holds);
            if (holds)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (failure.empty())
            failure = "waited for " + what;
        return false;
    }
    // Runs f on the GUI thread later, without waiting for it (it may open a modal loop).
    void later(std::function<void()> f) {
        QMetaObject::invokeMethod(qApp, f, Qt::QueuedConnection);
    }
    std::string failure;
    std::atomic<bool> done{false};

  private:
    const std::string xdotoolPath_ = QStandardPaths::findExecutable("xdotool").toStdString();
    std::thread thread_;
};

// Whether the server field of the window ends with text. A key typed must have reached it
// before a dialog is opened from the program itself: a key the X server still holds for the
// window would be refused once the dialog blocks it.
bool endsWith(MainWindow* window, const char* text) {
    auto* field = window->findChild<QLineEdit*>(QStringLiteral("id%1").arg(kServerEdit));
    return field && field->text().endsWith(QLatin1String(text));
}

std::string fileText(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

}  // namespace

class DesktopX11Test : public QObject {
    Q_OBJECT

  public:
    QString logDir;

  private slots:
    void initTestCase() {
        QTRY_VERIFY2(output("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id"),
                     "the window manager did not start");
    }

    // Dialog-type window: never resized or maximised; on the taskbar also once a tray (started
    // after the window) holds its icon, whose double-click hides the window and shows it again.
    void aLateTrayIsTakenAndItsIconHidesAndShowsTheWindow() {
        StartedWindow w;
        WId id = w.window->winId();
        QTRY_VERIFY(xProperty(id, "_NET_WM_ALLOWED_ACTIONS").contains("_NET_WM_ACTION_MOVE"));
        QString allowed = xProperty(id, "_NET_WM_ALLOWED_ACTIONS");
        QVERIFY2(!allowed.contains("MAXIMIZE") && !allowed.contains("RESIZE"), qPrintable(allowed));
        // At this scale the layout's size is taller than the screen: the frame fits, the list
        // shrinks.
        QTRY_VERIFY(w.window->screen()->availableGeometry().contains(w.window->frameGeometry()));
        auto* list = w.window->findChild<QListWidget*>(QStringLiteral("id1013"));
        bool tooSmall = w.window->screen()->availableGeometry().height() < kLayoutHeight;
        QVERIFY(!tooSmall || (w.window->height() < kLayoutHeight &&
                              list->height() >= list->minimumSizeHint().height()));
        QVERIFY(w.window->trayIcon() == nullptr);

        startTray();
        QTRY_VERIFY_WITH_TIMEOUT(trayIconWindow() != 0, 4 * MainWindow::kTrayLookMs);

        click(trayIconWindow(), 1, 2);
        QTRY_VERIFY(!w.window->isVisible());
        QVERIFY(!w.window->logic().shown());
        click(trayIconWindow(), 1, 2);
        QTRY_VERIFY(w.window->isVisible());
        QVERIFY(w.window->logic().shown());
        QVERIFY(!xProperty(id, "_NET_WM_STATE").contains("SKIP_TASKBAR"));
    }

    // A dialog open over the window leaves the tray icon working: its menu opens, and the exit
    // question it asks over the About box takes the keyboard at once (Escape answers Cancel).
    void theTrayExitQuestionOverADialogTakesTheKeyboard() {
        if (!tray)
            startTray();
        StartedWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(trayIconWindow() != 0, 4 * MainWindow::kTrayLookMs);
        std::string icon = std::to_string(trayIconWindow());
        MainWindow* window = w.window.get();
        Operator op([window, icon](Operator& o) {
            o.at(kMainTitle, {"key", "4"});
            o.until("the key to reach the field", [window] { return endsWith(window, "4"); });
            o.later([window] { window->windowMenu().actions().at(2)->trigger(); });  // About
            o.at("About Tarnwick", {"mousemove", "--window", icon, "8", "8", "click", "3"});
            o.until("the tray menu", [window] { return window->trayMenu().isVisible(); });
            o.xdotool({"key", "e"});  // "&Exit Program"
            o.at("Tarnwick", {"key", "Escape"});
            o.at("About Tarnwick", {"key", "Escape"});
            o.at(kMainTitle, {"key", "5"});
        });
        QTRY_VERIFY_WITH_TIMEOUT(op.done, 300000);
        QVERIFY2(op.failure.empty(), op.failure.c_str());
        QTRY_COMPARE(w.control<QLineEdit>(kServerEdit)->text(), QStringLiteral("pop.example45"));
        QVERIFY(!window->hasEnded());
    }

    // With the tray holding the icon the keyboard reaches the first field at start, after a
    // dialog and a message box close, and after Alt+Tab back from another program.
    void theKeyboardReachesTheWindowWhileTheTrayHoldsItsIcon() {
        if (!tray)
            startTray();
        Helper other("xmessage", {"-title", "other", "-geometry", "+600+500", "other"},
                     (logDir + "/xmessage.log").toStdString());
        QTRY_VERIFY(!output("xdotool", {"search", "--onlyvisible", "--name", "^other$"}).isEmpty());
        StartedWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(trayIconWindow() != 0, 4 * MainWindow::kTrayLookMs);
        MainWindow* window = w.window.get();
        Operator op([window](Operator& o) {
            o.at(kMainTitle, {"key", "1"});
            o.until("the key to reach the field", [window] { return endsWith(window, "1"); });
            o.later([window] { window->windowMenu().actions().at(2)->trigger(); });  // About
            o.at("About Tarnwick", {"key", "Escape"});
            o.at(kMainTitle, {"key", "2"});
            // "Check Every" is the fourth field; a letter there is refused by a message box.
            o.at(kMainTitle, {"key", "Tab", "Tab", "Tab", "x"});
            o.at("Tarnwick", {"key", "Return"});
            o.at(kMainTitle, {"key", "ctrl+a", "7"});
            std::string other = o.xdotool({"search", "--onlyvisible", "--name", "^other$"});
            o.xdotool({"windowactivate", other.substr(0, other.find('\n'))});
            o.at("other", {"key", "alt+Tab"});
            o.at(kMainTitle, {"key", "ctrl+a", "9"});
        });
        QTRY_VERIFY_WITH_TIMEOUT(op.done, 300000);
        QVERIFY2(op.failure.empty(), op.failure.c_str());
        QTRY_COMPARE(w.control<QLineEdit>(kCheckEveryEdit)->text(), QStringLiteral("9"));
        QCOMPARE(w.control<QLineEdit>(kServerEdit)->text(), QStringLiteral("pop.example12"));
    }

    // Without a tray hiding minimises; restored, then hidden to a tray that came meanwhile, the
    // window comes back when that tray goes: normal, on screen, taking the keyboard.
    void aWindowHiddenToALateTrayComesBackUsableWhenTheTrayGoes() {
        tray.reset();
        QTRY_VERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        StartedWindow w;
        WId id = w.window->winId();
        MainWindow* window = w.window.get();
        QTRY_VERIFY(xProperty(id, "WM_STATE").contains("Normal"));
        window->windowMenu().actions().at(0)->trigger();  // "&Hide Window"
        QTRY_VERIFY(xProperty(id, "WM_STATE").contains("Iconic"));
        QTRY_VERIFY(window->isMinimized());  // Qt has read the state: restoring changes it
        output("xdotool", {"windowactivate", QString::number(id)});  // as its taskbar button
        QTRY_VERIFY(window->logic().shown());
        startTray();
        QTRY_VERIFY_WITH_TIMEOUT(trayIconWindow() != 0, 4 * MainWindow::kTrayLookMs);
        window->windowMenu().actions().at(0)->trigger();
        QTRY_VERIFY(!window->isVisible());
        tray.reset();
        QTRY_VERIFY_WITH_TIMEOUT(window->isVisible(), 4 * MainWindow::kTrayLookMs);
        QVERIFY(window->trayIcon() == nullptr);
        // Shown again, the dialog selects the whole of the field with the focus.
        Operator op([](Operator& o) { o.at(kMainTitle, {"key", "End", "3"}); });
        QTRY_VERIFY_WITH_TIMEOUT(op.done, 300000);
        QVERIFY2(op.failure.empty(), op.failure.c_str());
        QTRY_COMPARE(w.control<QLineEdit>(kServerEdit)->text(), QStringLiteral("pop.example3"));
        QVERIFY(xProperty(id, "WM_STATE").contains("Normal"));
        QVERIFY(!window->isMinimized());
        QVERIFY(window->screen()->availableGeometry().contains(window->frameGeometry()));
    }

  private:
    void startTray() {
        tray = std::make_unique<Helper>("trayer", std::vector<std::string>{"--edge", "top"},
                                        (logDir + "/trayer.log").toStdString());
    }

    std::unique_ptr<Helper> tray;
};

int main(int argc, char** argv) {
    // The window manager: openbox, or the one TARNWICK_TEST_WM names (xfwm4, kwin_x11).
    const char* wm = getenv("TARNWICK_TEST_WM");
    std::string windowManager = wm && *wm ? wm : "openbox";
    for (const char* tool :
         {"Xvfb", windowManager.c_str(), "trayer", "xdotool", "xprop", "xwininfo"}) {
        if (QStandardPaths::findExecutable(tool).isEmpty()) {
            std::printf("SKIPPED: %s is not installed (scripts/setup.sh installs it)\n", tool);
            return kSkipped;
        }
    }
    QTemporaryDir logs;
    std::string xvfbOut = logs.filePath("xvfb.log").toStdString();
    Helper xvfb("Xvfb", {"-displayfd", "1", "-screen", "0", "1366x768x24", "-nolisten", "tcp"},
                xvfbOut);
    std::string display;  // Xvfb writes its display number once it is ready
    waitFor([&] {
        std::istringstream lines(fileText(xvfbOut));
        for (std::string line; std::getline(lines, line);)
            if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos)
                display = ":" + line;
        return !display.empty() || !xvfb.child || xvfb.child->wait(0) != -1;
    });
    if (display.empty()) {
        std::printf("SKIPPED: no X server could be started (Xvfb said: %s)\n",
                    fileText(xvfbOut).c_str());
        return kSkipped;
    }
    setenv("DISPLAY", display.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    // A small laptop screen at a large scale: the window's layout is taller than the screen.
    setenv("QT_SCALE_FACTOR", "1.5", 0);
    // The X11 tray protocol, not a tray reached over a session bus.
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
    // xfwm4 and KWin read their settings over a session bus of their own.
    bool ownBus = windowManager != "openbox";
    Helper manager(
        ownBus ? "dbus-run-session" : windowManager,
        ownBus ? std::vector<std::string>{"--", windowManager} : std::vector<std::string>{},
        logs.filePath("wm.log").toStdString());
    DesktopX11Test test;
    test.logDir = logs.path();
    return runQtTests(argc, argv, {&test});
}

#include "desktop_x11_gui_test.moc"
