#include "settings/directory_picker.h"

#include "ui_directory_picker.h"

#include <QDir>

#include "settings/directory_logic.h"
#include "settings/modal_dialog.h"
#include "settings/new_directory_dialog.h"
#include "settings/text_routines.h"

namespace {

// The file system model without the folders that are never recorder folders.
class OfferedFolders final : public QSortFilterProxyModel {
  public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

  protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        auto* files = static_cast<QFileSystemModel*>(sourceModel());
        return offeredAsRecorderFolder(files->filePath(files->index(row, 0, parent)).toStdString());
    }
};

}  // namespace

DirectoryPicker::DirectoryPicker(const std::string& initialDir, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::DirectoryPicker>()),
      offered_(std::make_unique<OfferedFolders>()) {
    ui_->setupUi(this);
    model_.setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    model_.setRootPath(QDir::rootPath());
    offered_->setSourceModel(&model_);
    ui_->id1121->setModel(offered_.get());
    for (int column = 1; column < offered_->columnCount(); ++column)
        ui_->id1121->hideColumn(column);
    connect(ui_->id1121->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& index) {
                if (index != start_)
                    start_ = QPersistentModelIndex();
                ui_->id1088->setText(model_.filePath(offered_->mapToSource(index)));
            });
    // The model lists each directory in the background; rows that arrive above the start
    // directory push it down, so it is scrolled to again each time.
    connect(offered_.get(), &QAbstractItemModel::rowsInserted, this,
            &DirectoryPicker::keepStartInView);
    connect(offered_.get(), &QAbstractItemModel::layoutChanged, this,
            &DirectoryPicker::keepStartInView);
    connect(ui_->id1, &QPushButton::clicked, this, &DirectoryPicker::accept);
    connect(ui_->id2, &QPushButton::clicked, this, &DirectoryPicker::reject);
    connect(ui_->id241, &QPushButton::clicked, this, &DirectoryPicker::runNewDirectory);
    openDirectory(
        QString::fromStdString(pickerStartDirectory(initialDir, QDir::homePath().toStdString())));
    ui_->id1121->setFocus();
}

void DirectoryPicker::openDirectory(const QString& path) {
    QModelIndex index = offered_->mapFromSource(model_.index(path));
    start_ = index;
    ui_->id1121->setCurrentIndex(index);
    ui_->id1121->expand(index);
    ui_->id1121->scrollTo(index, QAbstractItemView::PositionAtCenter);
    ui_->id1088->setText(path);
}

void DirectoryPicker::keepStartInView() {
    if (start_.isValid() && ui_->id1121->currentIndex() == start_)
        ui_->id1121->scrollTo(start_, QAbstractItemView::PositionAtCenter);
}

void DirectoryPicker::runNewDirectory() {
    created_.clear();
    std::string base = ui_->id1088->text().toStdString();
    addTrailingSlash(base);
    NewDirectoryDialog dialog(base, this);
    if (runWindowModal(dialog) != QDialog::Accepted)
        return;
    created_ = dialog.newPath();
    accept();
}

std::string DirectoryPicker::chosenDirectory() const {
    return created_.empty() ? ui_->id1088->text().toStdString() : created_;
}

DirectoryPicker::~DirectoryPicker() = default;
