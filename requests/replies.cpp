#include "requests/replies.h"

#include <unistd.h>

#include <cstdio>

#include "activity/activity_log.h"
#include "activity/statistics.h"
#include "mail/mail_job.h"
#include "mail/mail_transport.h"
#include "requests/event_file_request.h"
#include "requests/recorder_config.h"
#include "requests/reply_header.h"
#include "requests/resend_queue.h"
#include "settings/mailer_settings.h"
#include "settings/text_routines.h"

namespace {

std::string format(const char* fmt, const char* value) {
    char buf[1024];
    std::snprintf(buf, sizeof buf, fmt, value);
    return buf;
}

}  // namespace

Replies::Replies(const MailerSettings& settings, const EventFileRequest& request,
                 Statistics& statistics, ActivityLog& log, MailTransport& transport,
                 ResendQueue& queue)
    : settings_(settings),
      request_(request),
      statistics_(statistics),
      log_(log),
      transport_(transport),
      queue_(queue) {}

int Replies::sendOrQueue(const MailJob& original, bool toFile, const char* failureFormat) {
    MailJob job = original;
    job.arrival = arrival_;
    std::string error;
    if (transport_.sendMailJob(job, error)) {
        queue_.endHold();
        return 1;
    }
    log_.logMsg(toFile, failureFormat, error.c_str());
    if (transport_.lastSendHeld())
        queue_.hold(error);
    if (transport_.lastSendRefusedForGood()) {
        // No later try can mend a refusal for good: the reply is not queued.
        log_.logMsg(true, "Reply to %s refused by the mail server: not queued", job.to.c_str());
        queue_.giveUp(job);
        return 0;
    }
    if (!queue_.queueReq(job))
        notKept_ = true;
    return 0;
}

std::string Replies::errorReportBody(const std::vector<std::string>& errorTexts) const {
    std::string body = format("Station %s:\r\n", settings_.stationName.c_str()) +
                       "There was an error processing your event file request.\r\n\r\n";
    // A text may quote a requester's line or the recorder's answer: its line breaks are shown.
    for (const std::string& text : errorTexts) body += "Error: " + escapeLineBreaks(text) + "\r\n";
    return body;
}

void Replies::sendErrorReport(const std::string& errorText) {
    MailJob job;
    fillCommonHeader(job, settings_, request_);
    job.subject = "Event File Request Error";
    job.body = errorReportBody({errorText});
    sendOrQueue(job, false, "Send Error Report Error = %s");
}

void Replies::sendRefusalReport(const std::string& sender, const std::string& messageId,
                                const std::vector<std::string>& errorTexts) {
    MailJob job;
    fillCommonHeader(job, settings_, request_);
    job.to = sender;
    job.inReplyTo = messageId;
    job.subject = "Event File Request Error";
    job.body = errorReportBody(errorTexts);
    sendOrQueue(job, false, "Send Error Report Error = %s");
}

void Replies::sendEventFiles(MailJob& job) {
    bool one = job.attachmentCount == 1;
    job.subject = one ? "Your Event File" : "Your Event Files";
    std::string body = format(one ? "Here is your event file from the %s station.\r\n"
                                  : "Here are your event files from the %s station.\r\n",
                              settings_.stationName.c_str());
    bool headingWritten = false;
    int count = request_.channelCount < 0 ? 0 : request_.channelCount;
    for (int i = 0; i < count && i < EventFileRequest::maxChannels; ++i) {
        if (request_.channelStatus[i] == kChannelFileFound) {
            ++statistics_.eventFilesSent;
            continue;
        }
        if (!headingWritten) {
            body += "\r\nErrors:\r\n";
            headingWritten = true;
        }
        body += format("Sensor channel %s not found\r\n",
                       toUpperAscii(request_.channels[i].str()).c_str());
    }
    job.body = body;
    bool wasNotKept = notKept_;
    notKept_ = false;
    bool sent = sendOrQueue(job, true, "Send File Error = %s");
    bool kept = !notKept_;
    notKept_ = notKept_ || wasNotKept;
    // Files of a reply that went out are done with; so are those of a reply that could not be
    // kept: its request is served again and the recorder cuts them anew.
    if (!sent && kept)
        return;
    for (int i = 0; i < job.attachmentCount && i < MailJob::maxAttachments; ++i)
        ::unlink(job.attachments[i].c_str());
}

void Replies::sendStationInfo() {
    MailJob job;
    fillCommonHeader(job, settings_, request_);
    job.subject = "Station Information";
    std::string body = format("Station Information: %s\r\n\r\n", settings_.stationName.c_str());
    if (settings_.firstSystem.samplesPerSecond != 0)
        appendSystemInfo(body, settings_.firstSystem);
    if (settings_.secondSystem.samplesPerSecond != 0)
        appendSystemInfo(body, settings_.secondSystem);
    job.body = body;
    sendOrQueue(job, true, "Send Error Report Error = %s");
}

void appendSystemInfo(std::string& body, const RecorderSystem& system) {
    for (const DatasetVolume& volume : system.volumes) {
        if (volume.name.empty() || volume.enabled == 0)
            continue;
        std::string members;
        for (int m = 0; m < 3; ++m) {
            if (volume.memberChannels[m].empty())
                continue;
            if (m > 0)
                members += ' ';
            members += volume.memberChannels[m].view();
        }
        body +=
            "Dataset Volume: " + volume.name.str() + "\r\n    Channels: " + members + "\r\n\r\n";
    }
    int slots = system.numberChannels;
    if (slots > RecorderSystem::maxChannels)
        slots = RecorderSystem::maxChannels;
    for (int i = 0; i < slots; ++i) {
        const RecorderChannel& channel = system.channels[i];
        if (isVolumeChannel(channel.id.str(), system))
            continue;
        body += "Channel ID: " + channel.id.str() + "  Component: " + channel.component.str() +
                "\r\n    " + channel.location.str() + "\r\n";
        if (!channel.information.empty())
            body += "    " + channel.information.str() + "\r\n";
        body += "\r\n";
    }
}
