#pragma once

#include <string>

// The program's own modules (the desktop window, the mail reading) are looked for beside the
// executable (a copy run from its build folder), then in the folder the package installs them
// to (/usr/lib/<triplet>/tarnwick/, TARNWICK_MODULE_DIR).

// The module's path: beside the executable in exeDir when it is there, else in moduleDir; ""
// when neither is known.
std::string modulePath(const std::string& name, const std::string& exeDir,
                       const std::string& moduleDir);

// True when the named module is where modulePath finds it for this program.
bool programModuleInstalled(const std::string& name);

// Loads the named module from where modulePath finds it for this program (a module loaded
// before is found again). Returns its handle; nullptr with the reason in error.
void* loadProgramModule(const std::string& name, std::string& error);

// The named entry point of a loaded module; nullptr with the reason in error.
void* moduleEntry(void* module, const char* entry, std::string& error);
