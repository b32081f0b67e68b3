#pragma once

#include <stdlib.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

// The main of a Qt widget test program: runs every test object under one QApplication on the
// offscreen platform (unless QT_QPA_PLATFORM says otherwise), with a private runtime
// directory. Returns the number of failed tests, so CTest sees any failure.
inline int runQtTests(int argc, char** argv, std::initializer_list<QObject*> tests) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QTemporaryDir runtimeDir;  // created 0700
    setenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit().constData(), 1);
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    int failures = 0;
    for (QObject* test : tests) failures += QTest::qExec(test, argc, argv);
    return failures;
}

// Answers the modal windows that open while it lives, from a short timer, so it works inside
// their nested event loops. Message boxes get the given button and their texts are recorded;
// any other modal window goes to the handler, if one is set.
class ModalAnswerer {
  public:
    explicit ModalAnswerer(QMessageBox::StandardButton button,
                           std::function<void(QWidget*)> otherHandler = {})
        : button_(button), otherHandler_(std::move(otherHandler)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { answer(); });
        timer_.start(10);
    }

    void setButton(QMessageBox::StandardButton button) { button_ = button; }

    std::vector<std::string> texts;  // each box answered, in order
    std::vector<QMessageBox::Icon> icons;

  private:
    void answer() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            texts.push_back(box->text().toStdString());
            icons.push_back(box->icon());
            QAbstractButton* chosen = box->button(button_);
            if (!chosen)  // a box without that button: its only one
                chosen = box->buttons().value(0);
            if (chosen)
                chosen->click();
        } else if (modal && otherHandler_) {
            otherHandler_(modal);
        }
    }

    QMessageBox::StandardButton button_;
    std::function<void(QWidget*)> otherHandler_;
    QTimer timer_;
};
