#pragma once

#include <string>
#include <vector>

// The secrets of the robot's logins (passwords, tokens), in every form a mail dialogue could
// echo them: as written, in base64 as AUTH LOGIN sends them, in the base64 of the whole AUTH
// PLAIN line, and in hexadecimal (either letter case) as tarnwick.ini keeps them. Every entry
// of the activity log passes through it, so no list, file or journal line shows one.
class SecretMask final {
  public:
    // A secret sent on its own (a password, a token). An empty one is ignored.
    void add(const std::string& secret);
    // A login sent as AUTH PLAIN sends it: "\0user\0secret", in base64. The secret itself is
    // added too.
    void addPlainLogin(const std::string& user, const std::string& secret);
    // Adds every form of the other mask.
    void add(const SecretMask& other);

    // The text with every form of every secret replaced by "***".
    std::string apply(std::string text) const;

  private:
    void addForm(std::string form);

    std::vector<std::string> forms_;  // longest first
};
