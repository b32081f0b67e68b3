#pragma once

#include <string>
#include <string_view>
#include <vector>

// The recipients a request line names in its reply address: the pieces between commas, empty
// ones left out ("a@x,b@y" names two).
std::vector<std::string> recipientsOf(std::string_view replyTo);

// True when the text is a mailbox an SMTP server takes in RCPT TO (RFC 5321) and a To header
// can carry as it stands: a local part of dot-separated atoms (letters, digits and
// !#$%&'*+-/=?^_`{|}~), one '@', and a domain of dot-separated labels of letters, digits and
// hyphens, no label beginning or ending with a hyphen. Nothing else: no brackets, quotes,
// blanks, controls or 8-bit bytes, no address literal. At most 64 characters before the '@',
// 254 in all.
bool isMailboxAddress(std::string_view address);
