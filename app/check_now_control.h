#pragma once

// The "Check Now" button as the request cycle sees it; the window implements it, the headless
// runner has none.
class CheckNowControl {
public:
    virtual ~CheckNowControl() = default;
    virtual void setCheckNowEnabled(bool enabled) = 0;
};
