#include "settings/new_directory_dialog.h"

#include "ui_new_directory_dialog.h"

#include "settings/modal_dialog.h"

NewDirectoryDialog::NewDirectoryDialog(const std::string& baseDir, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::NewDirectoryDialog>()), logic_(baseDir) {
    ui_->setupUi(this);
    ui_->id1201->setText(QString::fromStdString(logic_.baseDir()));
    connect(ui_->id1, &QPushButton::clicked, this, &NewDirectoryDialog::accept);
    connect(ui_->id2, &QPushButton::clicked, this, &NewDirectoryDialog::reject);
    ui_->id1200->setFocus();
}

void NewDirectoryDialog::accept() {
    std::string error;
    if (logic_.accept(ui_->id1200->text().toStdString(), error)) {
        QDialog::accept();
        return;
    }
    askWindowModal(this, QMessageBox::Warning, windowTitle(), QString::fromStdString(error));
}

NewDirectoryDialog::~NewDirectoryDialog() = default;
