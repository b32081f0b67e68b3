#pragma once

#include <string>

#include "recorder-sim/sim_options.h"
#include "requests/recorder_system.h"

// True for the name of a request file: "RQ*.sy*", neither hidden, nor a response (".ack"),
// nor a temporary file (".tmp").
bool isRequestFileName(const std::string& name);

// Answers the request file at path as the recorder would: cuts an event file for each
// requested channel or volume that the configuration records (and --only allows), then writes
// the response file path + ".ack", both whole (hidden temporary name, then rename). A file
// whose first line is not a REQ line with nine items is answered "bad unreadable request".
// Honours --refuse, --response, --delay-ms and --never. Removes the request file before it
// writes the response, unless --keep-requests. Returns a one-line account for the sim's output.
std::string answerRequest(const std::string& path, const RecorderSystem& config,
                          const SimOptions& options);

// Writes bytes to path through a hidden temporary file in the same directory and a rename.
bool writeWhole(const std::string& path, const std::string& bytes);
