#pragma once

struct MailJob;
struct MailerSettings;
struct EventFileRequest;

// Sets the job to zero and gives it what every reply shares: To (the request's reply address),
// the request mail's Message-ID and From of the current settings.
void fillCommonHeader(MailJob& job, const MailerSettings& settings,
                      const EventFileRequest& request);
