#include "mail/network_transport.h"

#include "activity/statistics.h"
#include "mail/mime_composer.h"
#include "mail/pop3_reader.h"

int NetworkMailTransport::readMailbox(std::vector<CollectedLine>& lines, std::string& error,
                                      LineKeeper* keeper) {
    return ::readMailbox(context_, lines, error, &popServerSaid_, keeper, &mailsRead_);
}

int NetworkMailTransport::sendMailJob(const MailJob& job, std::string& error) {
    int sent = ::sendMailJob(context_, job, error, &lastFailure_);
    if (!sent)
        ++context_.statistics.sendFailures;
    return sent;
}
