#pragma once

#include <cstdint>

#include "settings/fixed_text.h"

// One outgoing mail: error report, event files, station information or a resend. A plain
// fixed-size record, copied by value; every job starts all zero. It names no account: every
// send and resend goes through the SMTP server and login of the settings in force then.
struct MailJob {
    static constexpr int maxAttachments = 16;

    FixedText<256> to;    // recipients; the To header as written, RCPT names once cleaned
    FixedText<256> from;  // display text with the address in angle brackets
    FixedText<256> subject;
    FixedText<16384> body;  // lines ended by CR LF
    FixedText<256> inReplyTo;  // the request mail's Message-ID, no brackets; empty: none known
    FixedText<256> attachments[maxAttachments];
    int attachmentCount = 0;  // 0 to 16
    int tries = 0;            // the resend queue's count of opportunities used
    // When the request mail it answers arrived in the mailbox (IMAP's INTERNALDATE), calendar
    // seconds; 0 when not known. Not kept in the spool.
    std::int64_t arrival = 0;
};
