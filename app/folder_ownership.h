#pragma once

#include <string>

// The config folder holds the passwords and the spool the robot mails from, so it must be the
// robot's own, as OpenSSH's StrictModes asks of ~/.ssh: the folder, spool/, the spool's
// folders and the folders of its queued and undelivered replies must be real folders (not
// symbolic links), owned by the user the robot runs as, and not writable by group or others.
// What does not exist yet is not checked (the robot makes it so).
//
// Returns true when they are; false with the first problem in problem, naming the path and
// what is wrong ("/var/lib/tarnwick/spool: is a symbolic link, not a folder").
bool checkConfigFolder(const std::string& configDir, std::string& problem);
