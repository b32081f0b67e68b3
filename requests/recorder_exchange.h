#pragma once

#include <string>

#include "platform/clock.h"
#include "requests/event_file_request.h"

class ReplySender;
struct MailJob;
struct MailerSettings;
struct RequestContext;

// The files exchanged with the recorder program. For each system that serves part of a
// request a one-line request file goes into that system's request directory:
//   <requestDir>RQ<HHMMSSmmm>.sy<systemNumber>   holding   REQ: mo dd yyyy hh mi len dec chans base
// The recorder cuts one event file per channel it serves, "<base>.<channel>.mqx", into the
// temporary directory, then answers with the request file's name plus ".ack"; a first line
// beginning "bad" (any case) refuses the request.
//
// The event files are looked for under the base the recorder was told. A MapDrive letter in
// the settings (a drive under which another system reached the recorder's temporary
// directory) names nothing here and is ignored.

// Writes the request file for one system (index 0 first, 1 second) with its channel list.
// Gives tempDir a trailing '/' in the setting itself. Stores the request file name in
// request.requestFile and the expected response name in request.responseFiles[index] before
// the file is created. The file appears whole: it is written under a hidden temporary name
// (".RQ....tmp") in the same directory, mode 0644, and renamed into place. On failure it logs
// "Can't create request file %s" or "Can't fdopen request file %s" (file) and leaves no
// request file; the recorder's answer then never comes.
void writeRequestFile(RequestContext& ctx, EventFileRequest& request,
                      const std::string& channelList, const std::string& requestDir,
                      int systemIndex);

// Reads and deletes the response files of the request (three opening attempts in all, shared
// by both files, with a pause of 200 ms after each failed one), reports an unreadable
// response ("Internal Process Error") or a refusal ("Mornak Response: %s") through replies,
// then fills eventFileJob with the common header and the event files found (their channels
// get status 2) and hands it to replies.sendEventFiles, or reports "No files to send". With
// one system asked, an unreadable or refusing response ends the request after its report.
void processResponses(RequestContext& ctx, EventFileRequest& request, int bothSystems,
                      MailJob& eventFileJob, ReplySender& replies);

// Removes from both systems' request directories the request files ("RQhhmmssmmm.syN"), their
// response files (".ack" added) and the hidden temporary files of request files left there.
// Called at start-up, when no request is awaited: they belong to requests an earlier run
// abandoned, and an answer nobody reads would stay forever. Links and folders are left alone.
void removeAbandonedRequestFiles(const MailerSettings& settings);

// The parts, each as the exchange builds it.

// dir (with '/') + "RQ%02d%02d%02d%03d.sy%d" from the time of day and the system number.
std::string requestFileName(const std::string& dir, const LocalTime& time, int systemNumber);
// The request file's response: its name with ".ack" added.
std::string responseFileName(const std::string& requestFileName);
// tempDir (with '/') + "%02d%02d%02d%02d%02d" from year % 100, month, day, hour, minute.
std::string eventFileBase(const std::string& tempDir, const EventFileRequest& request);
// "%s.%s.mqx".
std::string eventFileName(const std::string& base, const std::string& channelId);
// samplesPerSecond / rate when 0 < rate < samplesPerSecond, otherwise 1.
int decimationFactor(int samplesPerSecond, int rate);
// The one line of a request file, "REQ: %d %d %d %d %d %d %d %s %s\n".
std::string requestLine(const EventFileRequest& request, int decimation,
                        const std::string& channelList, const std::string& base);

// The pause after each failed attempt to open a response file, and the number of attempts
// shared by both response files.
inline constexpr int kResponseOpenPauseMs = 200;
inline constexpr int kResponseOpenAttempts = 3;
