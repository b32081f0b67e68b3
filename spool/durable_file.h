#pragma once

#include <string>

// File operations that survive a crash or a power cut once they have returned: what they
// wrote is on the disk, and so is the directory entry that names it.

// Writes the content to dir + name: a temporary file is written, synced and renamed over the
// name, and the directory is synced. Mode 0600. Returns false with the reason in error.
bool writeDurably(const std::string& dir, const std::string& name, const std::string& content,
                  std::string& error);

// As writeDurably, but the directory is left unsynced: a caller writing several files syncs it
// once after the last (syncDir). Until then a power cut may leave any of them out.
bool writeSynced(const std::string& dir, const std::string& name, const std::string& content,
                 std::string& error);

// The same without syncs: the whole content or the old file is there after the program stops
// (the system keeps what it was given), not necessarily after a power cut.
bool writeWhole(const std::string& dir, const std::string& name, const std::string& content,
                std::string& error);

// Moves a file to a new path: its data is synced first, then it is renamed or, across file
// systems, copied to a synced file and the original removed; both directories are synced.
// Returns false with the reason in error, the file then still at its old path (or at both).
bool moveDurably(const std::string& from, const std::string& to, std::string& error);

// Removes the file and syncs its directory. A file already gone counts as removed. Returns
// false with the reason in error.
bool removeDurably(const std::string& path, std::string& error);

// Removes the directory (path ending in '/') with everything in it, never following a link,
// and syncs the directory that held it. Returns false with the reason in error.
bool removeTreeDurably(const std::string& dir, std::string& error);

// Creates the directory (mode 0700) when it is missing. Returns false when it cannot.
bool makePrivateDir(const std::string& dir);

// Syncs the data of the file at path (never through a link).
bool syncFile(const std::string& path);

// Syncs the directory itself, so that the names in it survive.
bool syncDir(const std::string& dir);

// The directory part of a path, with its '/' ("" for a bare name).
std::string dirOf(const std::string& path);
