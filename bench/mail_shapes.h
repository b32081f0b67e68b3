#pragma once

#include <cstddef>
#include <string>

#include "mail/mime_reader.h"

// Hostile mail shapes whose parsing costs memory by their structure rather than their size,
// filled into a MessageBuffer line by line as the POP3 reader fills it.
//   parts      N tiny parts of one multipart/mixed ("--b", "", "x": 7 bytes a part)
//   headers    N header lines "X-A: 1" (7 bytes a line)
//   html       a text/html part of N elements "<i>x</i>" (9 bytes an element)
//   line       a text/plain part of one line of N bytes
// Returns false for an unknown shape.
bool fillMailShape(const std::string& shape, std::size_t n, MessageBuffer& buffer);
