#pragma once

#include <string>
#include <string_view>

// What the header block of a mail says, read from its bytes without a parser: for a mail that
// must not be parsed (it stopped the robot before) and still has to be named to the operator.

// The value of the first header field of that name (lower case, without the colon) in the
// header block, continuation lines joined with a blank, blanks around it dropped, cut to 200
// characters; "" when there is none.
std::string rawHeaderValue(std::string_view mail, std::string_view lowerName);

// The sender as the operator sees it: the address between '<' and '>' of Reply-To, else of
// From, or the whole value when it has no brackets; "" when neither is there.
std::string rawSender(std::string_view mail);

// The Message-ID without its angle brackets; "" when there is none.
std::string rawMessageId(std::string_view mail);
