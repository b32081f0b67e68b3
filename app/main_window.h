#pragma once

#include <QDialog>

#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <memory>

#include "activity/activity_log.h"
#include "app/main_window_logic.h"

class MailerApp;

namespace Ui {
class MainWindow;
}

// The program's one top-level window: the settings edits, the activity list, the buttons,
// the poll timer and the tray icon. It wires the widgets to MainWindowLogic, which holds every
// rule; it shows the list through LogView. A dialog-type window of fixed size (smaller where the
// screen is), without a maximise button, on the taskbar while it is shown.
class MainWindow final : public QDialog, private WindowView, private LogView {
    Q_OBJECT

  public:
    // How often a missing system tray is looked for again, or a present one checked.
    static constexpr int kTrayLookMs = 3000;

    explicit MainWindow(MailerApp& app);
    ~MainWindow() override;

    // The window's start-up, after MailerApp::startUp(): the poll timer of tickMs
    // milliseconds, controls filled and checked, the tray looked for (again every few
    // seconds), the window shown.
    void start(int tickMs);

    // Enter and "Close": the exit question, OK path.
    void accept() override;
    // Escape, the close box and the hidden "Cancel": the exit question, Cancel path.
    void reject() override;

    bool hasEnded() const { return logic_.ended(); }
    MainWindowLogic& logic() { return logic_; }
    // The tray icon, or nullptr when the desktop has no system tray.
    QSystemTrayIcon* trayIcon() const { return tray_; }
    QMenu& trayMenu() { return trayMenu_; }
    QMenu& windowMenu() { return windowMenu_; }

  signals:
    // A confirmed exit: the timer is stopped and the tray icon gone.
    void ended();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // WindowView
    std::string text(int id) override;
    void setText(int id, const std::string& text) override;
    bool checked(int id) override;
    void setChecked(int id, bool checked) override;
    void setEnabled(int id, bool enabled) override;
    void focus(int id) override;
    void showValidationMessage(const std::string& message) override;
    bool askExit() override;
    void showWindow(bool shown) override;
    void useTray(bool use) override;
    bool dialogOpen() override;
    void endWindow() override;
    bool runSmtpInfoDialog(SmtpInfoLogic& logic) override;
    bool chooseDirectory(const std::string& initialDir, std::string& chosen) override;
    // LogView
    void oldestRemoved() override;
    void entryAdded(const std::string& listLine) override;

    QWidget* control(int id) const;
    void wireEdits();
    void wireButtons();
    void buildMenus();
    void lookForTray();
    void fitToScreen();
    void createTrayIcon();
    void removeTrayIcon();
    void tick();
    void showAboutBox();
    void showStatistics();

    MailerApp& app_;
    std::unique_ptr<Ui::MainWindow> ui_;
    MainWindowLogic logic_;
    QTimer pollTimer_;
    QTimer trayLook_;
    QSize layoutSize_;  // the size the layout asks for, the window's own where the screen has room
    // A frame assumed before the window manager has framed the window.
    static constexpr int kAssumedBorder = 4;
    static constexpr int kAssumedTitleBar = 30;
    QSystemTrayIcon* tray_ = nullptr;
    // The control that was disabled while it had the focus; the window holds the focus for it.
    QPointer<QWidget> focusHeldFor_;
    QMenu trayMenu_;
    QAction* trayToggleAction_ = nullptr;
    QMenu windowMenu_;
    bool inTick_ = false;
};
