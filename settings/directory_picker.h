#pragma once

#include <QDialog>

#include <QFileSystemModel>
#include <QSortFilterProxyModel>
#include <memory>

namespace Ui {
class DirectoryPicker;
}

// A directory-only chooser: a tree of the file system from its root, without /proc, /sys and
// /dev; it opens at the given directory (or its nearest existing parent, or the home
// directory) and keeps that one scrolled into view while the tree is still loading; the label
// above it shows the directory open now, and "&New..." creates one under it and ends the picker
// with that one.
class DirectoryPicker final : public QDialog {
    Q_OBJECT

  public:
    DirectoryPicker(const std::string& initialDir, QWidget* parent);
    ~DirectoryPicker() override;

    // After exec() returned Accepted: the directory "&New..." created, or else the one shown.
    std::string chosenDirectory() const;

  private:
    void openDirectory(const QString& path);
    void keepStartInView();
    void runNewDirectory();

    std::unique_ptr<Ui::DirectoryPicker> ui_;
    QFileSystemModel model_;
    std::unique_ptr<QSortFilterProxyModel> offered_;  // model_ without /proc, /sys, /dev
    QPersistentModelIndex start_;  // scrolled to as rows arrive, until the user moves on
    std::string created_;
};
