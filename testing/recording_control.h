#pragma once

#include <vector>

#include "app/check_now_control.h"

// Remembers every change of the "Check Now" button.
class RecordingCheckNow final : public CheckNowControl {
public:
    void setCheckNowEnabled(bool value) override {
        enabled = value;
        changes.push_back(value);
    }
    bool enabled = true;
    std::vector<bool> changes;
};
