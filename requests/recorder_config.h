#pragma once

#include <string>

#include "requests/recorder_system.h"

class ActivityLog;
struct MailerSettings;

// Reading the recorder's own configuration ("mornak.ini" and the channel files it names) into
// the two RecorderSystem records of the settings, and the lookups that match requested
// channel IDs to a system. The recorder's files are only ever read.
//
// Both file kinds are read in pieces of at most 99 characters (a longer line arrives as
// several lines); each piece is cut at its line end and split at its first '=' with the key
// upper-cased and nothing trimmed. Pieces without '=' are skipped.

// Sets both records to zero and reads them again. With mornakDir empty nothing is read. Gives
// mornakDir (and mornak2Dir when set) a trailing '/' in the setting itself. A first
// "mornak.ini" that cannot be opened logs "First MORNAK INI parse error" (file) and leaves both
// systems empty; a second one logs "Second MORNAK INI parse error" (file) and leaves the
// second system empty.
void loadRecorderSystems(MailerSettings& settings, ActivityLog& log);

// Reads dir + "mornak.ini" (dir ends in '/') into the record, which should be zero beforehand:
// SYSTEMNUMBER, NUMBERCHANNELS (kept within 0 to 8), SAMPLESPERSECOND, CHANFILE1..8 (only the
// character after "CHANFILE" counts; 0, 9 and non-digits are ignored) and VOLINFO1..4.
// Returns 1 when the file could be opened, 0 otherwise (the record is then untouched).
int readRecorderIni(const std::string& dir, RecorderSystem& system);

// Sets the slot to zero, then fills it from the channel file dir + fileName: FILEEXTENTION
// (first 6 characters, upper-cased) into id, COMPNAME, LOCATION and INFORMATION, each cut to
// its field. Stops reading once all four are non-empty. A file that cannot be opened leaves
// the slot empty, silently.
void readChannelFile(const std::string& dir, const std::string& fileName, RecorderChannel& slot);

// Fills the volume from a VOLINFO value "enabled,name,member,member,member": split at ',' and
// line feed with empty pieces skipped; an item beginning with a blank is stored empty; texts
// are cut to their fields. Stops at the first missing item, leaving the later fields as they
// were.
void parseVolInfo(const std::string& value, DatasetVolume& volume);

// The number of channel slots in use, numberChannels kept within 0 to 8.
int usedChannelSlots(const RecorderSystem& system);

// Lookups, ignoring letter case. Each returns 1 or 0.
// The ID names one of the four volumes, enabled or not; an empty ID matches nothing.
int isVolumeName(const std::string& id, const RecorderSystem& system);
// The ID equals a member place of an enabled volume. An empty ID (a channel slot that no
// channel file filled) matches an empty place, so such a slot is left out of the station
// information when an enabled volume has fewer than three members.
int isVolumeChannel(const std::string& id, const RecorderSystem& system);
// The ID is one of the channels in use and not a member of an enabled volume; an empty ID
// matches nothing.
int isSystemChannel(const std::string& id, const RecorderSystem& system);

// The recorder's configuration file inside a system's directory.
inline constexpr const char* kRecorderIniName = "mornak.ini";
