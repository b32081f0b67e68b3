#pragma once

#include <QApplication>
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

// Shows a message box modally over parent's window, or over the dialog open there (the tray's
// exit question while the About box is open): a box under another modal window would be
// blocked by it and get no keys. Returns the button chosen.
inline QMessageBox::StandardButton askWindowModal(
    QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
    QMessageBox::StandardButtons buttons = QMessageBox::Ok) {
    if (QWidget* open = QApplication::activeModalWidget())
        parent = open;
    QMessageBox box(icon, title, text, buttons, parent);
    return static_cast<QMessageBox::StandardButton>(runWindowModal(box));
}
