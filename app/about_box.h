#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class AboutBox;
}

// Which program and version is running. "OK", Enter, Escape and the close box end it.
class AboutBox final : public QDialog {
    Q_OBJECT

  public:
    explicit AboutBox(QWidget* parent);
    ~AboutBox() override;

  private:
    std::unique_ptr<Ui::AboutBox> ui_;
};
