#include "settings/statistics_dialog.h"

#include "ui_statistics_dialog.h"

StatisticsDialog::StatisticsDialog(Statistics& statistics, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::StatisticsDialog>()), logic_(statistics) {
    ui_->setupUi(this);
    connect(ui_->id1, &QPushButton::clicked, this, &StatisticsDialog::accept);
    connect(ui_->id2, &QPushButton::clicked, this, &StatisticsDialog::reject);
    connect(ui_->id3, &QPushButton::clicked, this, [this] { logic_.clear(*this); });
    connect(&refreshTimer_, &QTimer::timeout, this, [this] { logic_.refresh(*this); });
    refreshTimer_.start(1000);
    logic_.open(*this);
}

void StatisticsDialog::setValueText(int id, const std::string& text) {
    if (auto* value = findChild<QLabel*>(QStringLiteral("id%1").arg(id)))
        value->setText(QString::fromStdString(text));
}

StatisticsDialog::~StatisticsDialog() = default;
