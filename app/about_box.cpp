#include "app/about_box.h"

#include "ui_about_box.h"

AboutBox::AboutBox(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::AboutBox>()) {
    ui_->setupUi(this);
    connect(ui_->id1, &QPushButton::clicked, this, &AboutBox::accept);
}

AboutBox::~AboutBox() = default;
