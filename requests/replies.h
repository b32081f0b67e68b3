#pragma once

#include <string>
#include <vector>

#include "requests/reply_sender.h"

class ActivityLog;
class MailTransport;
class ResendQueue;
struct EventFileRequest;
struct MailJob;
struct MailerSettings;
struct RecorderSystem;
struct Statistics;

// The three replies to a requester: error report, event files, station information. Each is
// sent at once; one that cannot be sent is logged and handed to the resend queue.
class Replies final : public ReplySender {
  public:
    Replies(const MailerSettings& settings, const EventFileRequest& request, Statistics& statistics,
            ActivityLog& log, MailTransport& transport, ResendQueue& queue);

    // "Event File Request Error" with the text, to the request's reply address.
    void sendErrorReport(const std::string& errorText) override;

    // Completes the event-file job (subject, body with the channels not found) and sends it;
    // counts the found files first. Deletes the files once sent; queues the job when not
    // (and deletes them when the job cannot be kept: its request is served again).
    void sendEventFiles(MailJob& job) override;

    // "Station Information" with a section per configured recorder system.
    void sendStationInfo();

    // "Event File Request Error" to the sender of a mail whose request lines were refused,
    // one "Error: " line with the reason for each ("Bad Request Line = %s"), threaded under
    // the mail.
    void sendRefusalReport(const std::string& sender, const std::string& messageId,
                           const std::vector<std::string>& errorTexts);

    // True when a reply since the last clearNotKept() could be neither sent nor kept in the
    // resend queue: the request it answers must stay and be served again.
    bool anyNotKept() const { return notKept_; }
    // When the mail of the request being answered arrived (CollectedLine::arrival): every reply
    // from now on carries it (MailJob::arrival).
    void setArrival(std::int64_t arrival) { arrival_ = arrival; }
    void clearNotKept() { notKept_ = false; }

  private:
    // The error report's body with one "Error: " line for each text.
    std::string errorReportBody(const std::vector<std::string>& errorTexts) const;

    // Sends the job; on failure logs the entry and queues the job, or gives it up when the
    // server refused it for good. Returns the send's result.
    int sendOrQueue(const MailJob& job, bool toFile, const char* failureFormat);

    const MailerSettings& settings_;
    const EventFileRequest& request_;
    Statistics& statistics_;
    ActivityLog& log_;
    MailTransport& transport_;
    ResendQueue& queue_;
    bool notKept_ = false;
    std::int64_t arrival_ = 0;
};

// Appends the station-information section of one recorder system to body: its enabled
// volumes, then its channels that are not members of an enabled volume.
void appendSystemInfo(std::string& body, const RecorderSystem& system);
