#pragma once

#include <string>

#include "requests/event_file_request.h"

class ActivityLog;
struct RequestContext;

// The two kinds of request line a requester mails to the station:
//   eventfilerequest=month day year hour minute length rate channel,channel,... replyaddress
//   stationinfo=replyaddress
// The functions below take the text after the prefix.

// The longest request line, prefix included; a longer line is refused as a bad line.
inline constexpr std::size_t kMaxRequestLineChars = 255;
inline constexpr const char* kFileRequestPrefix = "eventfilerequest=";
inline constexpr const char* kInfoRequestPrefix = "stationinfo=";

// What became of a request line's parse.
enum class ParseOutcome {
    kUsable,      // the record is filled
    kBadLine,     // refused as "Bad Request Line"
    kNoChannels,  // an event-file request whose channel list holds no ID: dropped silently
};

// Sets the record to zero and fills it from the nine items of an event-file request.
// kBadLine, with "Bad Request Line = %s" (file), when fewer than nine items convert, when words
// follow the reply address (it ran into them), when the line is longer than 255 characters, or when
// the channel list holds more than 16 IDs or an ID longer than 15 characters; kNoChannels, without
// an entry, when the list holds no ID.
ParseOutcome parseFileRequestLine(const std::string& text, EventFileRequest& request,
                                  ActivityLog& log);

// The same as 1 for a usable record, 0 otherwise.
int parseFileRequest(const std::string& text, EventFileRequest& request, ActivityLog& log);

// Sets the record to zero and takes the reply address of a station-information request.
// Returns 0 with "Bad Request Line = %s" (file) when there is no word, more than one, or the line
// is longer than 255 characters.
int parseInfoRequest(const std::string& text, EventFileRequest& request, ActivityLog& log);

// 1 when length is above 0 and rate is from 1 to 200, else 0.
int checkLengthAndRate(const EventFileRequest& request);

// True when the channel ID can safely become part of a file name: it holds no '/', no '\\'
// and no "..". Any other ID is never assigned to a system and no file is looked up for it.
bool isSafeChannelId(const std::string& id);

// Assigns each channel of the request to the first recorder system that serves it (status 0)
// or marks it not found (status 1), then has the request file of each system concerned
// written (first system, then second). Returns 1 and sets bothSystems (1 when both systems
// were asked) once the request files have been handed over, whether or not they could be
// written. Returns 0 with error set to "No channel IDs found at this station" or, after that
// test, "Invalid time length or sample rate"; nothing is written then.
int submitFileRequest(RequestContext& ctx, EventFileRequest& request, int& bothSystems,
                      std::string& error);
