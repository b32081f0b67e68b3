#include "settings/statistics_logic.h"

#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "activity/statistics.h"

namespace {

class RecordingStatisticsView final : public StatisticsView {
  public:
    void setValueText(int id, const std::string& text) override { writes.emplace_back(id, text); }
    std::vector<std::pair<int, std::string>> writes;
};

using Writes = std::vector<std::pair<int, std::string>>;

}  // namespace

TEST(StatisticsLogic, OpeningWritesAllSixThenOnlyChangedFields) {
    Statistics stats;
    stats.popLoginAttempts = 2;
    stats.goodPopLogins = 1;
    stats.badPopLogins = 1;
    stats.bytesSent = 3000000000LL;
    RecordingStatisticsView view;
    StatisticsLogic logic(stats);
    logic.open(view);
    EXPECT_EQ(
        (Writes{
            {1023, "2"}, {1024, "1"}, {1025, "1"}, {1026, "0"}, {1027, "0"}, {1028, "3000000000"}}),
        view.writes);

    view.writes.clear();
    logic.refresh(view);
    EXPECT_TRUE(view.writes.empty());

    stats.requestFiles = 4;
    stats.bytesSent += 10;
    logic.refresh(view);
    EXPECT_EQ((Writes{{1026, "4"}, {1028, "3000000010"}}), view.writes);
}

TEST(StatisticsLogic, ClearZeroesTheCountersAndShowsZeros) {
    Statistics stats;
    stats.popLoginAttempts = 2;
    stats.goodPopLogins = 1;
    stats.eventFilesSent = 3;
    RecordingStatisticsView view;
    StatisticsLogic logic(stats);
    logic.open(view);
    view.writes.clear();
    logic.clear(view);
    EXPECT_EQ(0, stats.popLoginAttempts);
    EXPECT_EQ(0, stats.eventFilesSent);
    // Fields already showing 0 are not rewritten; every field now shows 0.
    EXPECT_EQ((Writes{{1023, "0"}, {1024, "0"}, {1027, "0"}}), view.writes);

    view.writes.clear();
    logic.open(view);  // a new opening writes all six again
    EXPECT_EQ(6u, view.writes.size());
}
