#pragma once

#include <array>
#include <cstdint>
#include <string>

struct Statistics;

// Value ids of the Statistics dialog, in the order of the counters.
enum StatisticsId {
    kPopLoginAttemptsValue = 1023,
    kGoodPopLoginsValue = 1024,
    kBadPopLoginsValue = 1025,
    kRequestFilesValue = 1026,
    kEventFilesSentValue = 1027,
    kBytesSentValue = 1028,
};

// The dialog's six value fields.
class StatisticsView {
  public:
    virtual ~StatisticsView() = default;
    virtual void setValueText(int id, const std::string& text) = 0;
};

// The Statistics dialog's rules: it remembers the value each field shows and rewrites a field
// only when its counter moved.
class StatisticsLogic {
  public:
    explicit StatisticsLogic(Statistics& statistics);

    // The dialog opens: every remembered value becomes -1, so all six fields are written.
    void open(StatisticsView& view);

    // Each field whose counter differs from its remembered value shows the counter in decimal.
    void refresh(StatisticsView& view);

    // "Clear": all six counters to 0, then refresh.
    void clear(StatisticsView& view);

  private:
    std::array<std::int64_t, 6> counters() const;

    Statistics& statistics_;
    std::array<std::int64_t, 6> remembered_;
};
