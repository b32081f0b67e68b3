#pragma once

#include <string_view>

// The header values of a mail that tell whether a program sent it (empty when absent).
struct AutomaticMailSigns {
    std::string_view autoSubmitted;  // Auto-Submitted
    std::string_view precedence;     // Precedence
    std::string_view contentType;    // the top-level Content-Type, type and subtype
    std::string_view fromAddress;    // the From address
    std::string_view returnPath;     // Return-Path
    bool listHeader = false;         // a List-Id, List-Post or List-Unsubscribe header is there
};

// True for a mail no reply may go to: an Auto-Submitted other than "no", a Precedence of
// bulk, junk, list or auto_reply, a delivery or read report (multipart/report), a sender
// that is MAILER-DAEMON or postmaster, an empty Return-Path ("<>"), or a mailing list's mail
// (List-Id, List-Post or List-Unsubscribe: its replies would go to the whole list).
bool isAutomaticMail(const AutomaticMailSigns& signs);
