#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "mail/mailbox_address.h"

// The recipients a request line names in its reply address: the pieces between commas, empty
// ones left out ("a@x,b@y" names two).
std::vector<std::string> recipientsOf(std::string_view replyTo);
