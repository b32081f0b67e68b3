#pragma once

#include <string>

#include "settings/fixed_text.h"

// The directory chooser as pickDirectory sees it; the desktop shows a real one, tests fake it.
class DirectoryChooser {
  public:
    virtual ~DirectoryChooser() = default;
    // Runs the chooser modally, starting at initialDir. Returns true when it ended with OK and
    // leaves the directory in chosen: the one "&New..." created, or else the one shown.
    // Returns false, with chosen untouched, when it was cancelled.
    virtual bool chooseDirectory(const std::string& initialDir, std::string& chosen) = 0;
};

// Runs the chooser on the setting's current value. On OK stores the chosen directory, with
// one trailing '/', in the setting and in windowValue and returns 1. Letter case is lowered
// only when the lower-cased path names the very same directory, so a case-sensitive file
// system never gets a path that does not exist. Returns 0 with both untouched on Cancel.
int pickDirectory(DirectoryChooser& chooser, FixedText<256>& setting, std::string& windowValue);

// The form in which a chosen directory is stored: '/' appended, lower-cased where that still
// names the same directory.
std::string storedDirectoryForm(const std::string& chosen);

// False for the system's own pseudo file systems, /proc, /sys and /dev, and everything below
// them: the directory picker does not offer them as recorder folders. Every other absolute
// path, the root itself included, is offered.
bool offeredAsRecorderFolder(const std::string& path);

// The directory the picker opens at: the setting's directory (taken from the working
// directory when relative, "." and ".." resolved by name) when it exists and is offered, else
// its nearest existing offered parent; home for an empty setting. No trailing '/' except "/".
std::string pickerStartDirectory(const std::string& setting, const std::string& home);

// The rules of the New Directory dialog: the new path is the base directory followed by the
// typed name.
class NewDirectoryLogic {
  public:
    static constexpr std::size_t maxPathChars = 255;

    // base is the directory open in the chooser; a '/' is appended when it lacks one.
    explicit NewDirectoryLogic(std::string base);

    const std::string& baseDir() const { return base_; }

    // "OK" with the typed name: builds base + name, removes one trailing '/', and returns 1
    // when a directory of that name exists already or was created now (one level only); the
    // path is then in newPath(). Returns 0 with "Error creating new directory" in error when
    // it could not be created or the path would exceed 255 characters; nothing is created.
    int accept(const std::string& name, std::string& error);

    const std::string& newPath() const { return newPath_; }

  private:
    std::string base_;
    std::string newPath_;
};
