#pragma once

#include <string>
#include <vector>

#include "mail/collected_line.h"
#include "mail/line_keeper.h"
#include "mail/mail_job.h"
#include "mail/send_failure.h"

// The two mail dialogues as the request cycle and the resend queue see them, so their tests
// can run on a fake.
class MailTransport {
  public:
    virtual ~MailTransport() = default;

    // Reads every waiting message of the POP3 mailbox, keeps its request lines (lower-cased,
    // each with its mail's sender and Message-ID) in lines and deletes it. Returns 1 on success; 0
    // with the reason in error on failure, lines then holding what was collected before it. With a
    // keeper, the lines are kept there before the server deletes their messages; when they cannot
    // be, the messages stay on the server and the result is 0.
    virtual int readMailbox(std::vector<CollectedLine>& lines, std::string& error,
                            LineKeeper* keeper) = 0;

    // How many mails the last readMailbox read to their end.
    virtual int mailsRead() const { return 0; }

    // What the POP3 server itself said when it refused the last login; "" when it did not.
    virtual std::string popServerSaid() const { return {}; }

    // Composes the job's MIME message and delivers it through SMTP. Returns 1 when the server
    // accepted it; 0 with the reason in error otherwise (the failure is already logged).
    virtual int sendMailJob(const MailJob& job, std::string& error) = 0;

    // What the last failed send means for its reply: tried again, given up at once (refused
    // for good), or held with every other reply (the station's own side was refused).
    virtual SendFailure lastSendFailure() const { return SendFailure::kTryAgain; }
    bool lastSendRefusedForGood() const {
        return lastSendFailure() == SendFailure::kRefusedForGood;
    }
    bool lastSendHeld() const { return lastSendFailure() == SendFailure::kStationSide; }
};
