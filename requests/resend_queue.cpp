#include "requests/resend_queue.h"

#include <unistd.h>

#include <new>
#include <string>

#include "mail/mail_transport.h"
#include "settings/activity_log.h"

ResendQueue::ResendQueue(MailTransport& transport, ActivityLog& log)
    : transport_(transport), log_(log) {}

void ResendQueue::queueReq(const MailJob& job) {
    if (jobs_.size() >= maxJobs) {
        log_.logMsg(true, "Too many files queued");
        ++droppedJobs_;
        return;
    }
    std::unique_ptr<MailJob> copy(new (std::nothrow) MailJob(job));
    if (!copy) {
        log_.logMsg(true, "queueReq memory error");
        ++droppedJobs_;
        return;
    }
    jobs_.push_back(std::move(copy));
}

int ResendQueue::resendNext() {
    if (jobs_.empty())
        return 1;
    MailJob& job = *jobs_.front();
    ++job.tries;
    if (job.tries >= maxTries) {
        log_.logMsg(true, "Can't resend event files");
        jobs_.pop_front();
        ++droppedJobs_;
        return 1;
    }
    std::string error;
    if (!transport_.sendMailJob(job, error)) {
        log_.logMsg(true, "Resend Error = %s", error.c_str());
        return 0;
    }
    // A file that cannot be deleted is passed over.
    for (int i = 0; i < job.attachmentCount && i < MailJob::maxAttachments; ++i)
        ::unlink(job.attachments[i].c_str());
    jobs_.pop_front();
    return 1;
}
