#include "app/main_window.h"

#include "ui_main_window.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QLayout>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <QScreen>

#include <algorithm>

#include "app/about_box.h"
#include "app/mailer_app.h"
#include "app/x11_window_hints.h"
#include "settings/directory_picker.h"
#include "settings/modal_dialog.h"
#include "settings/smtp_info_dialog.h"
#include "settings/statistics_dialog.h"

namespace {

// The edits whose changes and focus losses the rules hear about.
constexpr int kEditIds[] = {kServerEdit,      kUserNameEdit,        kPasswordEdit,
                            kCheckEveryEdit,  kFirstSystemDirEdit,  kSecondSystemDirEdit,
                            kTempDirEdit,     kFirstRequestDirEdit, kSecondRequestDirEdit,
                            kStationNameEdit, kFromUserEdit,        kMapDriveEdit};

constexpr int kBrowseIds[] = {kFirstSystemDirBrowse, kFirstRequestDirBrowse, kSecondSystemDirBrowse,
                              kSecondRequestDirBrowse};

// The program icon: a seismogram trace on a dark tile.
QIcon programIcon() {
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(QColor(0x1f, 0x3a, 0x5f));
        painter.setPen(Qt::NoPen);
        painter.drawRoundedRect(QRectF(0, 0, size, size), size / 6.0, size / 6.0);
        painter.setPen(QPen(QColor(0xf0, 0xc0, 0x40), size / 12.0 + 0.5));
        const double y[] = {0.5, 0.5, 0.35, 0.7, 0.15, 0.85, 0.3, 0.6, 0.5, 0.5};
        QPolygonF trace;
        for (int i = 0; i < 10; ++i) trace << QPointF(size * (0.08 + 0.84 * i / 9.0), size * y[i]);
        painter.drawPolyline(trace);
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

MainWindow::MainWindow(MailerApp& app)
    : app_(app), ui_(std::make_unique<Ui::MainWindow>()), logic_(app, *this) {
    ui_->setupUi(this);
    // A dialog-type window: caption, window menu, minimise and close, no maximise; it keeps the
    // size of its layout file (larger where the controls need more) and cannot be resized. It
    // stays on the taskbar while it is shown: openbox keeps the keyboard from a utility window
    // off the taskbar, and xfwm4 leaves windows off the taskbar out of Alt+Tab.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    layoutSize_ = size().expandedTo(minimumSizeHint());
    setFixedSize(layoutSize_);
    setWindowIcon(programIcon());
    ui_->id1021->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[ -~]?")), this));
    for (const std::string& line : app_.log().entries()) entryAdded(line);
    app_.log().setView(this);
    wireEdits();
    wireButtons();
    buildMenus();
    connect(&pollTimer_, &QTimer::timeout, this, &MainWindow::tick);
    connect(&trayLook_, &QTimer::timeout, this, &MainWindow::lookForTray);
}

MainWindow::~MainWindow() {
    app_.log().setView(nullptr);
}

void MainWindow::start(int tickMs) {
    pollTimer_.start(tickMs);
    logic_.startUp();
    if (logic_.ended())
        return;
    lookForTray();
    trayLook_.start(kTrayLookMs);
    fitToScreen();
    show();
}

// The layout's size where the screen has room for it. Where it has not (a large scale on a
// small screen), the window takes the room there is, less its frame, and the activity list,
// which scrolls, gives up the difference; the whole frame is moved onto the screen.
void MainWindow::fitToScreen() {
    const QRect room = screen()->availableGeometry();
    QSize frame = frameGeometry().size() - size();
    if (frame.isEmpty())  // not framed yet: room for a usual title bar and border
        frame = QSize(2 * kAssumedBorder, kAssumedTitleBar + 2 * kAssumedBorder);
    QSize fits = layoutSize_.boundedTo(room.size() - frame).expandedTo(layout()->minimumSize());
    if (fits != size())
        setFixedSize(fits);
    const QSize outer = fits + frame;
    QPoint at(
        std::clamp(pos().x(), room.left(), std::max(room.left(), room.right() + 1 - outer.width())),
        std::clamp(pos().y(), room.top(),
                   std::max(room.top(), room.bottom() + 1 - outer.height())));
    if (at != pos())
        move(at);
}

void MainWindow::lookForTray() {
    logic_.onTrayAvailable(QSystemTrayIcon::isSystemTrayAvailable());
}

void MainWindow::wireEdits() {
    for (int id : kEditIds) {
        auto* edit = qobject_cast<QLineEdit*>(control(id));
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textEdited, this, [this, edit, id](const QString& text) {
            // The drive letter edit shows upper case only.
            if (id == kMapDriveEdit && text != text.toUpper())
                edit->setText(text.toUpper());
            logic_.onEditChanged(id);
        });
    }
}

void MainWindow::wireButtons() {
    connect(ui_->id1, &QPushButton::clicked, this, &MainWindow::accept);
    connect(ui_->id2, &QPushButton::clicked, this, &MainWindow::reject);
    connect(ui_->id1007, &QPushButton::clicked, this, [this] { logic_.onCheckNow(); });
    connect(ui_->id1008, &QCheckBox::clicked, this, [this] { logic_.onEnableClicked(); });
    connect(ui_->id1014, &QPushButton::clicked, this, [this] { logic_.onSave(); });
    connect(ui_->id1015, &QPushButton::clicked, this, [this] { logic_.onUpdate(); });
    connect(ui_->id1023, &QPushButton::clicked, this, [this] { logic_.onSmtpInfo(); });
    connect(ui_->id1022, &QPushButton::clicked, this, &MainWindow::showStatistics);
    for (int id : kBrowseIds) {
        auto* button = qobject_cast<QPushButton*>(control(id));
        connect(button, &QPushButton::clicked, this, [this, id] { logic_.onBrowse(id); });
    }
}

// The window menu holds what the system menu would: "&Hide Window" and "&About Tarnwick...".
// The tray menu's first item is relabelled each time it opens.
void MainWindow::buildMenus() {
    connect(windowMenu_.addAction(tr("&Hide Window")), &QAction::triggered, this,
            [this] { logic_.onHideCommand(); });
    windowMenu_.addSeparator();
    connect(windowMenu_.addAction(tr("&About Tarnwick...")), &QAction::triggered, this,
            &MainWindow::showAboutBox);

    trayToggleAction_ = trayMenu_.addAction(tr("&Hide Window"));
    connect(trayToggleAction_, &QAction::triggered, this, [this] { logic_.onTrayToggle(); });
    connect(trayMenu_.addAction(tr("&Exit Program")), &QAction::triggered, this,
            [this] { logic_.onTrayExit(); });
    connect(&trayMenu_, &QMenu::aboutToShow, this,
            [this] { trayToggleAction_->setText(QString::fromStdString(logic_.trayMenuLabel())); });
}

void MainWindow::createTrayIcon() {
    tray_ = new QSystemTrayIcon(windowIcon(), this);
    tray_->setToolTip(QStringLiteral("Tarnwick"));
    tray_->setContextMenu(&trayMenu_);
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick)
                    logic_.onTrayDoubleClick();
            });
    tray_->show();
}

void MainWindow::removeTrayIcon() {
    if (!tray_)
        return;
    tray_->hide();
    tray_->deleteLater();
    tray_ = nullptr;
}

// One tick of the poll timer; a tick never starts inside another.
void MainWindow::tick() {
    if (inTick_)
        return;
    inTick_ = true;
    app_.onTick();
    inTick_ = false;
    if (app_.nextTickNow())
        QTimer::singleShot(0, this, &MainWindow::tick);
}

void MainWindow::accept() {
    logic_.onClose();
}

void MainWindow::reject() {
    logic_.onCancel();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        // A menu, or one of the program's own message boxes and dialogs, taking the focus for
        // a moment is not the edit being left; another program taking it, or hiding, is.
        Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        bool id = watched->objectName().startsWith(QStringLiteral("id"));
        bool toOwnWindow =
            reason == Qt::ActiveWindowFocusReason && QApplication::activeWindow() != nullptr;
        if (id && !toOwnWindow && reason != Qt::PopupFocusReason)
            logic_.onFocusLost(watched->objectName().mid(2).toInt());
    }
    return QDialog::eventFilter(watched, event);
}

// Before the window is mapped: shown normally, it maps normally, minimised before or not.
void MainWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous() && !isMinimized())
        mapNormally(*this);
}

void MainWindow::contextMenuEvent(QContextMenuEvent* event) {
    windowMenu_.exec(event->globalPos());
}

// Without a tray icon "hide" minimises; a window the user restores is shown again. Qt may miss the
// window manager's end of the minimised state (its state stays minimised while the window is back
// on screen and active), so the window's activation counts as well: a minimised window is never the
// active one.
void MainWindow::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    bool restored = (event->type() == QEvent::WindowStateChange && !isMinimized()) ||
                    (event->type() == QEvent::ActivationChange && isActiveWindow());
    if (restored && !tray_ && !logic_.shown() && !logic_.ended())
        logic_.onRestoredByUser();
}

QWidget* MainWindow::control(int id) const {
    return findChild<QWidget*>(QStringLiteral("id%1").arg(id));
}

std::string MainWindow::text(int id) {
    auto* edit = qobject_cast<QLineEdit*>(control(id));
    return edit ? edit->text().toStdString() : std::string();
}

void MainWindow::setText(int id, const std::string& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(control(id)))
        edit->setText(QString::fromStdString(text));
}

bool MainWindow::checked(int id) {
    auto* box = qobject_cast<QCheckBox*>(control(id));
    return box && box->isChecked();
}

void MainWindow::setChecked(int id, bool checked) {
    if (auto* box = qobject_cast<QCheckBox*>(control(id)))
        box->setChecked(checked);
}

// A control disabled while it has the focus would pass it on to the next control, maybe an
// edit with all its text selected, which the next key typed would replace ("Check Now"
// disables itself when pressed). The window holds the focus instead and gives it back when the
// control is enabled again, unless the user has put it elsewhere meanwhile.
void MainWindow::setEnabled(int id, bool enabled) {
    QWidget* w = control(id);
    if (!w)
        return;
    if (!enabled && focusWidget() == w) {
        focusHeldFor_ = w;
        setFocus(Qt::OtherFocusReason);
    }
    w->setEnabled(enabled);
    if (enabled && focusHeldFor_ == w) {
        focusHeldFor_ = nullptr;
        if (focusWidget() == this)
            w->setFocus(Qt::OtherFocusReason);
    }
}

void MainWindow::focus(int id) {
    if (QWidget* w = control(id))
        w->setFocus(Qt::OtherFocusReason);
}

void MainWindow::showValidationMessage(const std::string& message) {
    askWindowModal(this, QMessageBox::Warning, QStringLiteral("Tarnwick"),
                   QString::fromStdString(message));
}

bool MainWindow::askExit() {
    return askWindowModal(this, QMessageBox::Critical, QStringLiteral("Tarnwick"),
                          QStringLiteral("Exit Program"),
                          QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

void MainWindow::showWindow(bool shown) {
    if (shown) {
        fitToScreen();
        showNormal();
        raise();
        activateWindow();
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            dialog->raise();
            dialog->activateWindow();
        }
    } else if (tray_) {
        hide();
    } else {
        showMinimized();
    }
}

void MainWindow::useTray(bool use) {
    if (use)
        createTrayIcon();
    else
        removeTrayIcon();
}

bool MainWindow::dialogOpen() {
    return QApplication::activeModalWidget() != nullptr;
}

void MainWindow::endWindow() {
    pollTimer_.stop();
    trayLook_.stop();
    removeTrayIcon();
    hide();
    emit ended();
}

bool MainWindow::runSmtpInfoDialog(SmtpInfoLogic& logic) {
    SmtpInfoDialog dialog(logic, this);
    return runWindowModal(dialog) == QDialog::Accepted;
}

bool MainWindow::chooseDirectory(const std::string& initialDir, std::string& chosen) {
    DirectoryPicker picker(initialDir, this);
    if (runWindowModal(picker) != QDialog::Accepted)
        return false;
    chosen = picker.chosenDirectory();
    return true;
}

void MainWindow::showAboutBox() {
    AboutBox box(this);
    runWindowModal(box);
}

void MainWindow::showStatistics() {
    StatisticsDialog dialog(app_.statistics(), this);
    runWindowModal(dialog);
}

void MainWindow::oldestRemoved() {
    delete ui_->id1013->takeItem(0);
}

void MainWindow::entryAdded(const std::string& listLine) {
    ui_->id1013->addItem(QString::fromStdString(listLine));
    ui_->id1013->setCurrentRow(ui_->id1013->count() - 1);
}
