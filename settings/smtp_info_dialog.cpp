#include "settings/smtp_info_dialog.h"

#include "ui_smtp_info_dialog.h"

#include <QLineEdit>

SmtpInfoDialog::SmtpInfoDialog(SmtpInfoLogic& logic, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::SmtpInfoDialog>()), logic_(logic) {
    ui_->setupUi(this);
    connect(ui_->id1, &QPushButton::clicked, this, &SmtpInfoDialog::accept);
    connect(ui_->id2, &QPushButton::clicked, this, &SmtpInfoDialog::reject);
    logic_.open(*this);
    // Only the user's picks count; selecting the item on opening is not one.
    connect(ui_->id1025, &QComboBox::activated, this, [this] { logic_.selectionChanged(*this); });
}

void SmtpInfoDialog::accept() {
    logic_.accept(*this);
    QDialog::accept();
}

QWidget* SmtpInfoDialog::control(int id) const {
    return findChild<QWidget*>(QStringLiteral("id%1").arg(id));
}

std::string SmtpInfoDialog::text(int id) {
    auto* edit = qobject_cast<QLineEdit*>(control(id));
    return edit ? edit->text().toStdString() : std::string();
}

void SmtpInfoDialog::setText(int id, const std::string& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(control(id)))
        edit->setText(QString::fromStdString(text));
}

void SmtpInfoDialog::setEnabled(int id, bool enabled) {
    if (QWidget* w = control(id))
        w->setEnabled(enabled);
}

int SmtpInfoDialog::selectedIndex() {
    return ui_->id1025->currentIndex();
}

void SmtpInfoDialog::setSelectedIndex(int index) {
    ui_->id1025->setCurrentIndex(index);
}

SmtpInfoDialog::~SmtpInfoDialog() = default;
