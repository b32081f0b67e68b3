#pragma once

#include <deque>
#include <string>
#include <vector>

#include "mail/mail_transport.h"

// A mailbox and an SMTP server in memory. The mailbox hands out its lines once; sends succeed
// unless results are queued in sendResults (front first) or failSends is set.
class FakeTransport final : public MailTransport {
  public:
    // The mailbox is emptied only when its lines could be kept, as a server deletes messages
    // only on QUIT.
    int readMailbox(std::vector<CollectedLine>& lines, std::string& error,
                    LineKeeper* keeper) override {
        ++reads;
        lines = mailbox;
        if (keeper && !lines.empty() && !keeper->keepLines(lines)) {
            lines.clear();
            error = "Spool Error";
            return 0;
        }
        mailbox.clear();
        if (!readResult)
            error = readError;
        return readResult;
    }

    int sendMailJob(const MailJob& job, std::string& error) override {
        attempts.push_back(job);
        bool ok = !failSends;
        if (!sendResults.empty()) {
            ok = sendResults.front() != 0;
            sendResults.pop_front();
        }
        if (!ok) {
            error = sendError;
            return 0;
        }
        sent.push_back(job);
        return 1;
    }

    int mailsRead() const override { return mailsInMailbox; }

    std::vector<CollectedLine> mailbox;
    int mailsInMailbox = 0;  // what mailsRead says
    int readResult = 1;
    std::string readError = "POP Connect Error";
    int reads = 0;

    bool failSends = false;
    std::deque<int> sendResults;
    std::string sendError = "Can't connect to smtp.example";
    // What a failed send means: e.g. the server's refusal for good, or a station-side fault.
    SendFailure failure = SendFailure::kTryAgain;
    SendFailure lastSendFailure() const override { return failure; }
    std::vector<MailJob> attempts;
    std::vector<MailJob> sent;
};
