#pragma once

#include <string_view>

// True when the text is one whole mailbox as RFC 5321 writes it, local-part "@" domain: a
// dot-string local part (letters, digits and !#$%&'*+-/=?^_`{|}~, in runs parted by single
// dots) of at most 64 characters, and a domain of at most 255: labels of letters, digits and
// hyphens (not at a label's ends) parted by dots, or an address literal in brackets. The
// quoted-string form of the local part is not taken: a request line parts its words at blanks.
bool isMailboxAddress(std::string_view text);
