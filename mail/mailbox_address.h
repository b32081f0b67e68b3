#pragma once

#include <string_view>

// True when the text is a mailbox an SMTP server takes in RCPT TO (RFC 5321) and a To header
// can carry as it stands: a local part of dot-separated atoms (letters, digits and
// !#$%&'*+-/=?^_`{|}~), one '@', and a domain of dot-separated labels of letters, digits and
// hyphens, no label beginning or ending with a hyphen. Nothing else: no brackets, quotes,
// blanks, controls or 8-bit bytes, no address literal. At most 64 characters before the '@',
// 254 in all.
bool isMailboxAddress(std::string_view address);
