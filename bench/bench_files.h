#pragma once

#include <cstddef>
#include <string>

#include "bench/peak_memory.h"
#include "mail/mail_job.h"

// Writes a file of n pseudo-random bytes at path, a megabyte at a time (so that making it
// does not raise the writer's peak memory). Returns false when it cannot be written.
bool writeRandomFile(const std::string& path, std::size_t n);

// An event-file reply to ann@example.org with the one attachment at path.
MailJob eventFileReply(const std::string& path);
