#include "requests/reply_header.h"

#include "mail/mail_job.h"
#include "requests/event_file_request.h"
#include "settings/mailer_settings.h"

void fillCommonHeader(MailJob& job, const MailerSettings& settings,
                      const EventFileRequest& request) {
    job = MailJob{};
    job.to = request.replyTo.view();
    job.inReplyTo = request.requestMessageId.view();
    job.from = settings.fromUser.view();
}
