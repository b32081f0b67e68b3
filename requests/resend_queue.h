#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>

#include "mail/mail_job.h"

class ActivityLog;
class MailTransport;
class Spool;

// Replies that could not be sent, sent again oldest first, one job per resend opportunity. A
// job is given up at its fifth opportunity. With a spool every queued job lives there too,
// with the event files it owns and its try count, so it survives a restart; a job given up or
// refused by a full queue leaves its files in the spool's undelivered/ folder. Without one the
// queue lives in memory only and the files of a job that is dropped stay where they were.
class ResendQueue {
  public:
    static constexpr std::size_t maxJobs = 10;
    static constexpr int maxTries = 5;

    ResendQueue(MailTransport& transport, ActivityLog& log, Spool* spool = nullptr);

    // Keeps a copy of the job, tries included, at the tail. With 10 jobs queued the new one is
    // dropped with "Too many files queued". With a spool the job is kept only once it and its
    // event files are on the disk; when they cannot be, the job is not queued: returns false
    // with the entry "Spool Error: ... (the request is kept and will be served again)" and the
    // caller keeps the request instead. True otherwise.
    bool queueReq(const MailJob& job);

    // Sends the job at the head again. Returns 0 when the send failed (the job stays at the
    // head with one more try counted, or none when the failure holds the replies), 1 when it was
    // sent (its attachment files are deleted) or given up with "Can't resend event files" (at its
    // fifth opportunity, or at once when the server refused it for good).
    int resendNext();

    // Holds every queued reply: the station's own side of the SMTP dialogue was refused, so no
    // reply can go until the settings (or the server) change. Held replies use up no tries; the
    // first hold writes "Replies held: <reason>", and a reply that goes out ends the hold.
    void hold(const std::string& reason);
    bool held() const { return held_; }
    void endHold() { held_ = false; }

    // Gives up a reply that was never queued (the server refused it for good): counted as
    // dropped, its files set aside as for a job given up.
    void giveUp(const MailJob& job);

    // Takes up the jobs an earlier run left in the spool, behind those queued, as far as the
    // queue holds them; the rest are dropped with "Too many files queued", their files set
    // aside. Returns how many were taken up.
    int resume();

    std::size_t size() const { return jobs_.size(); }
    bool empty() const { return jobs_.empty(); }
    void clear() { jobs_.clear(); }

    // Jobs dropped in this run: given up, or refused by a full queue.
    int droppedJobs() const { return droppedJobs_; }

    const MailJob& job(std::size_t index) const { return jobs_[index]->job; }

  private:
    struct QueuedJob {
        MailJob job;
        std::string spoolId;  // "" when it lives in memory only
    };

    void drop(QueuedJob& queued);

    MailTransport& transport_;
    ActivityLog& log_;
    Spool* spool_;
    std::deque<std::unique_ptr<QueuedJob>> jobs_;
    int droppedJobs_ = 0;
    bool held_ = false;
};
