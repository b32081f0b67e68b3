#pragma once

#include <QDialog>

#include <QFileSystemModel>
#include <memory>

namespace Ui {
class DirectoryPicker;
}

// A directory-only chooser: the tree starts at the given directory (or its nearest existing
// parent, or the home directory), the label above it shows the directory open now, and
// "&New..." creates one under it and ends the picker with that one.
class DirectoryPicker final : public QDialog {
    Q_OBJECT

  public:
    DirectoryPicker(const std::string& initialDir, QWidget* parent);
    ~DirectoryPicker() override;

    // After exec() returned Accepted: the directory "&New..." created, or else the one shown.
    std::string chosenDirectory() const;

  private:
    void openDirectory(const QString& path);
    void runNewDirectory();

    std::unique_ptr<Ui::DirectoryPicker> ui_;
    QFileSystemModel model_;
    std::string created_;
};
