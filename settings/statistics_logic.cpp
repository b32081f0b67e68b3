#include "settings/statistics_logic.h"

#include "activity/statistics.h"

StatisticsLogic::StatisticsLogic(Statistics& statistics) : statistics_(statistics) {
    remembered_.fill(-1);
}

void StatisticsLogic::open(StatisticsView& view) {
    remembered_.fill(-1);
    refresh(view);
}

void StatisticsLogic::refresh(StatisticsView& view) {
    std::array<std::int64_t, 6> now = counters();
    for (std::size_t i = 0; i < now.size(); ++i) {
        if (now[i] == remembered_[i])
            continue;
        view.setValueText(kPopLoginAttemptsValue + static_cast<int>(i), std::to_string(now[i]));
        remembered_[i] = now[i];
    }
}

void StatisticsLogic::clear(StatisticsView& view) {
    statistics_.clear();
    refresh(view);
}

std::array<std::int64_t, 6> StatisticsLogic::counters() const {
    return {statistics_.popLoginAttempts, statistics_.goodPopLogins,  statistics_.badPopLogins,
            statistics_.requestFiles,     statistics_.eventFilesSent, statistics_.bytesSent};
}
