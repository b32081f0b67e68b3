#pragma once

#include <cstddef>
#include <string>

#include "mail/mail_context.h"
#include "mail/mail_job.h"
#include "mail/send_failure.h"
#include "platform/clock.h"

// The number in the part boundary "=====================_%d==_" of a message composed at the
// given local time: year + 65536 x month (133075 in February 2003).
int boundaryNumber(const LocalTime& time);

// The "Date: ..." header line with its CR LF, e.g. "Date: Mon, 07 Dec 2026 08:43:27 -0800\r\n"
// (the year in four digits, as RFC 5322 asks of every new message);
// utcOffsetMinutes is the local zone (minutes to add to UTC).
std::string dateLine(const LocalTime& time, int utcOffsetMinutes);

// The file name written into an attachment's part headers: what follows the last "\", "/" or
// ":" of the path; the whole path when it has none of them or only as its first character.
std::string attachmentName(const std::string& path);

// Size of a file's base64 text as the composer writes it: lines of 76 characters (57 bytes),
// each ended by CR LF; an empty file gives one empty line.
std::size_t encodedLinesSize(std::size_t fileSize);

// Appends one attachment part to text: its three header lines and empty line, the file's
// bytes in base64 lines of 76 characters, then the separator line, or the closing boundary
// when last is set. Returns 1 on success; 0 with "Error Opening %s File", "error reading file
// %s" (the full path) or "Out of memory error" in error, text then ending in a partial part.
int addAttachment(const std::string& path, bool last, int boundary, std::string& text,
                  std::string& error);

// Composes the whole message text of job (headers, blank line, body, and one base64 part per
// attachment) with one reading of the clock's local time and zone. Returns 1 with the text
// in text; 0 with the reason in error and text empty.
int MakeMimeMsg(Clock& clock, const MailJob& job, std::string& text, std::string& error);

// The one way out for every mail of the robot: composes the job's message and delivers it
// through SMTP. Returns 1 when the server accepted it; 0 otherwise with the reason in error,
// after logging "MakeMimeMsg Error=%s" or "SendMimeMsg Error=%s" to the list and the file. A
// failed composition opens no connection. The job is only read.
// failure (if given) tells what a failure means for the reply (see SendFailure).
int sendMailJob(MailContext& context, const MailJob& job, std::string& error,
                SendFailure* failure = nullptr);
