#include "requests/resend_queue.h"

#include <unistd.h>

#include <new>
#include <string>

#include "activity/activity_log.h"
#include "mail/mail_transport.h"
#include "spool/spool.h"

ResendQueue::ResendQueue(MailTransport& transport, ActivityLog& log, Spool* spool)
    : transport_(transport), log_(log), spool_(spool) {}

bool ResendQueue::queueReq(const MailJob& job) {
    if (jobs_.size() >= maxJobs) {
        log_.logMsg(true, "Too many files queued");
        ++droppedJobs_;
        QueuedJob dropped{job, {}};
        drop(dropped);
        return true;
    }
    std::unique_ptr<QueuedJob> copy(new (std::nothrow) QueuedJob{job, {}});
    if (!copy) {
        log_.logMsg(true, "queueReq memory error");
        return false;
    }
    // The spool takes the job's event files, so that no later request can overwrite them.
    if (spool_) {
        std::string error;
        copy->spoolId = spool_->keepJob(copy->job, error);
        if (copy->spoolId.empty()) {
            log_.logMsg(true, "Spool Error: %s (the request is kept and will be served again)",
                        error.c_str());
            return false;
        }
    }
    jobs_.push_back(std::move(copy));
    return true;
}

// A job that will not be sent: with a spool its files are set aside in undelivered/, so they
// never ride along with a later reply.
void ResendQueue::drop(QueuedJob& queued) {
    if (!spool_)
        return;
    std::string error;
    if (queued.spoolId.empty())
        queued.spoolId = spool_->keepJob(queued.job, error);
    if (queued.spoolId.empty() && queued.job.attachmentCount > 0)
        log_.logMsg(true, "Spool Error: %s", error.c_str());
    spool_->keepUndelivered(queued.spoolId, queued.job);
}

int ResendQueue::resendNext() {
    if (jobs_.empty())
        return 1;
    QueuedJob& queued = *jobs_.front();
    MailJob& job = queued.job;
    ++job.tries;
    if (job.tries >= maxTries) {
        log_.logMsg(true, "Can't resend event files");
        drop(queued);
        jobs_.pop_front();
        ++droppedJobs_;
        return 1;
    }
    if (spool_ && !queued.spoolId.empty())
        spool_->saveJob(queued.spoolId, job);
    std::string error;
    if (!transport_.sendMailJob(job, error)) {
        log_.logMsg(true, "Resend Error = %s", error.c_str());
        if (transport_.lastSendHeld()) {
            --job.tries;  // the reply was never offered: the try does not count
            if (spool_ && !queued.spoolId.empty())
                spool_->saveJob(queued.spoolId, job);
            hold(error);
            return 0;
        }
        if (!transport_.lastSendRefusedForGood())
            return 0;
        log_.logMsg(true, "Can't resend event files");
        drop(queued);
        jobs_.pop_front();
        ++droppedJobs_;
        return 1;
    }
    // The spool removes the job file before the files it names, so a crash between never
    // leaves a job whose files are gone. Without a spool a file that cannot be deleted is
    // passed over.
    if (spool_ && !queued.spoolId.empty()) {
        spool_->removeJob(queued.spoolId);
    } else {
        for (int i = 0; i < job.attachmentCount && i < MailJob::maxAttachments; ++i)
            ::unlink(job.attachments[i].c_str());
    }
    jobs_.pop_front();
    held_ = false;
    return 1;
}

void ResendQueue::hold(const std::string& reason) {
    if (!held_)
        log_.logMsg(true, "Replies held: %s", reason.c_str());
    held_ = true;
}

void ResendQueue::giveUp(const MailJob& job) {
    ++droppedJobs_;
    QueuedJob dropped{job, {}};
    drop(dropped);
}

int ResendQueue::resume() {
    if (!spool_)
        return 0;
    int count = 0;
    for (auto& [id, job] : spool_->loadJobs()) {
        QueuedJob queued{job, id};
        if (jobs_.size() >= maxJobs) {
            log_.logMsg(true, "Too many files queued");
            ++droppedJobs_;
            drop(queued);
            continue;
        }
        jobs_.push_back(std::make_unique<QueuedJob>(std::move(queued)));
        ++count;
    }
    return count;
}
