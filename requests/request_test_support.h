#pragma once

// Test support for the request handling: a context on a fake clock and a temporary
// directory, and a ReplySender that records what it is asked to send.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "activity/activity_log.h"
#include "mail/mail_job.h"
#include "requests/reply_sender.h"
#include "requests/request_context.h"
#include "settings/mailer_settings.h"
#include "testing/fake_clock.h"
#include "testing/temp_dir.h"

class RecordingReplies final : public ReplySender {
  public:
    void sendErrorReport(const std::string& errorText) override {
        errorReports.push_back(errorText);
    }
    void sendEventFiles(MailJob& job) override { sentJobs.push_back(job); }

    std::vector<std::string> errorReports;
    std::vector<MailJob> sentJobs;
};

class RequestTest : public ::testing::Test {
  protected:
    // The list entries, each "MM/DD HH:MM:SS text" at the fake clock's time.
    std::vector<std::string> entries() const {
        return {log.entries().begin(), log.entries().end()};
    }
    // The log file's text; empty when nothing went to the file.
    std::string logFile() const {
        std::string path = dir.file("tarnwick.log");
        return fileExistsHere(path) ? readFile(path) : std::string();
    }
    // The names in a directory, sorted.
    static std::vector<std::string> filesIn(const std::string& path) {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    static bool fileExistsHere(const std::string& path) {
        std::FILE* f = std::fopen(path.c_str(), "r");
        if (f)
            std::fclose(f);
        return f != nullptr;
    }

    TempDir dir;
    FakeClock clock;
    MailerSettings settings;
    ActivityLog log{clock, dir.file("tarnwick.log")};
    RequestContext ctx{settings, log, clock};
    RecordingReplies replies;
};
