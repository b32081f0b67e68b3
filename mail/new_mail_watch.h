#pragma once

// Something that learns of new mail as it arrives, so the mailbox is read then instead of at
// the next interval. The request cycle asks it on its idle ticks.
class NewMailWatch {
  public:
    virtual ~NewMailWatch() = default;
    // True once for each announcement of new mail since the last call.
    virtual bool takeNewMail() = 0;
};
