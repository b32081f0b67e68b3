#pragma once

#include <QDialog>
#include <QMessageBox>

// The program's dialogs and message boxes are modal to the window they open over, not to the
// whole program: the tray icon, a window of its own, keeps taking double-clicks and opening its
// menu while one is open.

// Runs dialog modally over its parent's window; returns its result.
inline int runWindowModal(QDialog& dialog) {
    dialog.setWindowModality(Qt::WindowModal);
    return dialog.exec();
}

// Shows a message box modally over parent's window; returns the button chosen.
inline QMessageBox::StandardButton askWindowModal(
    QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
    QMessageBox::StandardButtons buttons = QMessageBox::Ok) {
    QMessageBox box(icon, title, text, buttons, parent);
    return static_cast<QMessageBox::StandardButton>(runWindowModal(box));
}
