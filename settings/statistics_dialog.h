#pragma once

#include <QDialog>

#include <QTimer>
#include <memory>

#include "settings/statistics_logic.h"

struct Statistics;

namespace Ui {
class StatisticsDialog;
}

// The Statistics dialog: the six counters of the run, refreshed every second while it is
// open, and "Clear". Its timer stops when the dialog goes.
class StatisticsDialog final : public QDialog, private StatisticsView {
    Q_OBJECT

  public:
    StatisticsDialog(Statistics& statistics, QWidget* parent);
    ~StatisticsDialog() override;

  private:
    void setValueText(int id, const std::string& text) override;

    std::unique_ptr<Ui::StatisticsDialog> ui_;
    StatisticsLogic logic_;
    QTimer refreshTimer_;
};
