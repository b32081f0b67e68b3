#pragma once

#include <string>
#include <string_view>

// Joins the lines of a text/plain part sent with format=flowed: a line that ends in a blank
// continues on the next line of the same quote depth. Space-stuffing is undone, and with
// delSp the blank that marks the soft break is dropped too. The signature separator "-- "
// is never joined. Line ends in and out are "\n" (a CR before it is dropped); quoted lines
// keep their ">" marks.
std::string unflowText(std::string_view text, bool delSp);
