#pragma once

#include "mail/mail_context.h"
#include "mail/mail_transport.h"

// The mail dialogues over real sockets: POP3 to popServer, SMTP to smtpServer, both as the
// settings stand at the moment of each dialogue.
class NetworkMailTransport final : public MailTransport {
public:
    explicit NetworkMailTransport(MailContext context) : context_(context) {}

    // Where the dialogues are shown from now on; nullptr: nowhere.
    void setTranscript(DialogueTranscript* transcript) { context_.transcript = transcript; }

    int readMailbox(std::vector<CollectedLine>& lines, std::string& error,
                    LineKeeper* keeper) override;
    int sendMailJob(const MailJob& job, std::string& error) override;
    std::string popServerSaid() const override { return popServerSaid_; }
    int mailsRead() const override { return mailsRead_; }
    SendFailure lastSendFailure() const override { return lastFailure_; }

private:
    MailContext context_;
    std::string popServerSaid_;
    int mailsRead_ = 0;
    SendFailure lastFailure_ = SendFailure::kTryAgain;
};
