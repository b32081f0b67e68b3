#pragma once

#include <cstddef>
#include <deque>
#include <memory>

#include "mail/mail_job.h"

class ActivityLog;
class MailTransport;

// Replies that could not be sent, kept in memory and sent again oldest first, one job per
// resend opportunity. A job is given up at its fifth opportunity; its files stay on disk.
// The queue is empty at every start and dropped at exit.
class ResendQueue {
public:
    static constexpr std::size_t maxJobs = 10;
    static constexpr int maxTries = 5;

    ResendQueue(MailTransport& transport, ActivityLog& log);

    // Keeps a copy of the job, tries included, at the tail. With 10 jobs queued the new one is
    // dropped with "Too many files queued".
    void queueReq(const MailJob& job);

    // Sends the job at the head again. Returns 0 when the send failed (the job stays at the
    // head with one more try counted), 1 when it was sent (its attachment files are deleted)
    // or given up with "Can't resend event files".
    int resendNext();

    std::size_t size() const { return jobs_.size(); }
    bool empty() const { return jobs_.empty(); }
    void clear() { jobs_.clear(); }

    // Jobs dropped in this run: given up, or refused by a full queue.
    int droppedJobs() const { return droppedJobs_; }

    const MailJob& job(std::size_t index) const { return *jobs_[index]; }

private:
    MailTransport& transport_;
    ActivityLog& log_;
    std::deque<std::unique_ptr<MailJob>> jobs_;
    int droppedJobs_ = 0;
};
