#pragma once

#include <QDialog>

#include <memory>

#include "settings/directory_logic.h"

namespace Ui {
class NewDirectoryDialog;
}

// The New Directory dialog: a name typed under the base directory is created (one level) on
// OK; a failure shows "Error creating new directory" and the dialog stays open.
class NewDirectoryDialog final : public QDialog {
    Q_OBJECT

  public:
    NewDirectoryDialog(const std::string& baseDir, QWidget* parent);
    ~NewDirectoryDialog() override;

    void accept() override;

    // The directory that exists now, after exec() returned Accepted.
    const std::string& newPath() const { return logic_.newPath(); }

  private:
    std::unique_ptr<Ui::NewDirectoryDialog> ui_;
    NewDirectoryLogic logic_;
};
