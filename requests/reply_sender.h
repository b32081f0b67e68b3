#pragma once

#include <string>

struct MailJob;

// The replies to a requester, as the recorder exchange hands over to them.
class ReplySender {
  public:
    virtual ~ReplySender() = default;
    // Mails the error report with this text for the request in progress.
    virtual void sendErrorReport(const std::string& errorText) = 0;
    // Completes and mails the event-file reply job (common header and attachments already
    // filled); deletes the files once sent, queues the job when not.
    virtual void sendEventFiles(MailJob& job) = 0;
};
