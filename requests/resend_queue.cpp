#include "requests/resend_queue.h"

#include <unistd.h>

#include <new>
#include <string>

#include "activity/activity_log.h"
#include "mail/mail_transport.h"
#include "spool/spool.h"

ResendQueue::ResendQueue(MailTransport& transport, ActivityLog& log, Spool* spool)
    : transport_(transport), log_(log), spool_(spool) {}

void ResendQueue::queueReq(const MailJob& job) {
    if (jobs_.size() >= maxJobs) {
        log_.logMsg(true, "Too many files queued");
        ++droppedJobs_;
        QueuedJob dropped{job, {}};
        drop(dropped);
        return;
    }
    std::unique_ptr<QueuedJob> copy(new (std::nothrow) QueuedJob{job, {}});
    if (!copy) {
        log_.logMsg(true, "queueReq memory error");
        ++droppedJobs_;
        return;
    }
    // The spool takes the job's event files, so that no later request can overwrite them.
    if (spool_)
        copy->spoolId = spool_->keepJob(copy->job);
    jobs_.push_back(std::move(copy));
}

// A job that will not be sent: with a spool its files are set aside in undelivered/, so they
// never ride along with a later reply.
void ResendQueue::drop(QueuedJob& queued) {
    if (!spool_)
        return;
    if (queued.spoolId.empty())
        queued.spoolId = spool_->keepJob(queued.job);
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
        if (!transport_.lastSendRefusedForGood())
            return 0;
        log_.logMsg(true, "Can't resend event files");
        drop(queued);
        jobs_.pop_front();
        ++droppedJobs_;
        return 1;
    }
    // A file that cannot be deleted is passed over.
    for (int i = 0; i < job.attachmentCount && i < MailJob::maxAttachments; ++i)
        ::unlink(job.attachments[i].c_str());
    if (spool_)
        spool_->removeJob(queued.spoolId);
    jobs_.pop_front();
    return 1;
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
        jobs_.push_back(std::make_unique<QueuedJob>(QueuedJob{job, id}));
        ++count;
    }
    return count;
}
