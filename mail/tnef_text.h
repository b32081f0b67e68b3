#pragma once

#include <string>
#include <string_view>

// The text of an Outlook mail sent as TNEF (winmail.dat, application/ms-tnef), read with
// libytnef: the body attribute, else the MAPI body property (8-bit or UTF-16, made UTF-8), else
// the MAPI HTML body, which html then says. Returns false when the bytes are not TNEF or hold
// none of these (a rich-text-only body): the mail cannot be read then. libytnef reads no
// further than the bytes given, and is given only a stream whose every attribute fits in them.
bool tnefBodyText(std::string_view data, std::string& text, bool& html);
