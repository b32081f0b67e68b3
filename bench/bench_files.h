#pragma once

#include <cstddef>
#include <string>

// Writes a file of n pseudo-random bytes at path, a megabyte at a time (so that making it
// does not raise the writer's peak memory). Returns false when it cannot be written.
bool writeRandomFile(const std::string& path, std::size_t n);

// Peak resident memory of this process so far, in kilobytes.
long peakResidentKb();
