#pragma once

#include <string>

// File operations that survive a crash or a power cut once they have returned: what they
// wrote is on the disk, and so is the directory entry that names it.

// Writes the content to dir + name: a temporary file is written, synced and renamed over the
// name, and the directory is synced. Mode 0600. Returns false with the reason in error.
bool writeDurably(const std::string& dir, const std::string& name, const std::string& content,
                  std::string& error);

// Moves a file to a new path, by rename or, across file systems, by a synced copy and the
// removal of the original; both directories are synced. Returns false with the reason in
// error, the file then still at its old path.
bool moveDurably(const std::string& from, const std::string& to, std::string& error);

// Creates the directory (mode 0700) when it is missing. Returns false when it cannot.
bool makePrivateDir(const std::string& dir);

// Syncs the directory itself, so that the names in it survive.
bool syncDir(const std::string& dir);

// The directory part of a path, with its '/' ("" for a bare name).
std::string dirOf(const std::string& path);
