#include "settings/directory_picker.h"

#include "ui_directory_picker.h"

#include <QDir>
#include <QFileInfo>

#include "settings/new_directory_dialog.h"
#include "settings/text_routines.h"

namespace {

// The directory itself when it exists, else its nearest existing parent, else home.
QString startingDirectory(const std::string& initialDir) {
    QString path = QString::fromStdString(initialDir);
    while (!path.isEmpty()) {
        QFileInfo info(path);
        if (info.isDir())
            return QDir::cleanPath(info.absoluteFilePath());
        QString parent = info.absolutePath();
        if (parent == info.absoluteFilePath())
            break;
        path = parent;
    }
    return QDir::homePath();
}

}  // namespace

DirectoryPicker::DirectoryPicker(const std::string& initialDir, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::DirectoryPicker>()) {
    ui_->setupUi(this);
    model_.setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    model_.setRootPath(QDir::rootPath());
    ui_->id1121->setModel(&model_);
    for (int column = 1; column < model_.columnCount(); ++column) ui_->id1121->hideColumn(column);
    connect(ui_->id1121->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& index) { ui_->id1088->setText(model_.filePath(index)); });
    connect(ui_->id1, &QPushButton::clicked, this, &DirectoryPicker::accept);
    connect(ui_->id2, &QPushButton::clicked, this, &DirectoryPicker::reject);
    connect(ui_->id241, &QPushButton::clicked, this, &DirectoryPicker::runNewDirectory);
    openDirectory(startingDirectory(initialDir));
    ui_->id1121->setFocus();
}

void DirectoryPicker::openDirectory(const QString& path) {
    QModelIndex index = model_.index(path);
    ui_->id1121->setCurrentIndex(index);
    ui_->id1121->expand(index);
    ui_->id1121->scrollTo(index);
    ui_->id1088->setText(path);
}

void DirectoryPicker::runNewDirectory() {
    created_.clear();
    std::string base = ui_->id1088->text().toStdString();
    addTrailingSlash(base);
    NewDirectoryDialog dialog(base, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    created_ = dialog.newPath();
    accept();
}

std::string DirectoryPicker::chosenDirectory() const {
    return created_.empty() ? ui_->id1088->text().toStdString() : created_;
}

DirectoryPicker::~DirectoryPicker() = default;
