#include "mail/network_transport.h"

#include "activity/statistics.h"
#include "mail/imap_address.h"
#include "mail/imap_reader.h"
#include "mail/mime_composer.h"
#include "platform/clock.h"
#include "settings/mailer_settings.h"
#include "mail/pop3_reader.h"

int NetworkMailTransport::readMailbox(std::vector<CollectedLine>& lines, std::string& error,
                                      LineKeeper* keeper) {
    if (isImapSetting(context_.settings.popServer.str()))
        return readImapMailbox(context_, lines, error, &popServerSaid_, keeper, &mailsRead_);
    return ::readMailbox(context_, lines, error, &popServerSaid_, keeper, &mailsRead_);
}

int NetworkMailTransport::sendMailJob(const MailJob& job, std::string& error) {
    int sent = ::sendMailJob(context_, job, error, &lastFailure_);
    if (!sent)
        ++context_.statistics.sendFailures;
    else if (job.arrival > 0)
        context_.statistics.replyDelays.add(context_.clock.now() - job.arrival);
    return sent;
}
