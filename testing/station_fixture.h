#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/mailer_app.h"
#include "testing/fake_clock.h"
#include "testing/fake_transport.h"
#include "testing/recording_control.h"
#include "testing/temp_dir.h"

// A station in a temp dir: complete settings, one recorder system (BHZ, BHN, BHE at 100
// samples per second, system number 1) with its request and temporary directories, a fake
// clock and a fake mail transport. The app is started by start().
class StationFixture {
public:
    StationFixture();

    // Writes tarnwick.ini (the complete settings plus extraSettings lines, later lines win)
    // and starts the app.
    void start(const std::string& extraSettings = "");

    // Runs n ticks, the clock moving one second each.
    void tick(int n = 1);

    // The list entries without their time stamps, from index from on.
    std::vector<std::string> entries(std::size_t from = 0) const;
    // The log file's lines without their time stamps.
    std::vector<std::string> fileEntries() const;

    // Where the recorder looks and answers.
    std::string requestDir() const { return dir.file("req/"); }
    std::string tempDir() const { return dir.file("tmp/"); }
    // The request file written at the fake clock's time for system 1.
    std::string requestFile() const { return requestDir() + "RQ070509042.sy1"; }
    // The event file of a channel for a request of 2/18/2003 14:30.
    std::string eventFile(const std::string& channel) const {
        return tempDir() + "0302181430." + channel + ".mqx";
    }
    // Plays the recorder: writes the event files of the channels, then the response file.
    void answer(const std::string& responseLine, const std::vector<std::string>& channels);

    TempDir dir;
    FakeClock clock;
    FakeTransport transport;
    RecordingCheckNow checkNow;
    std::unique_ptr<MailerApp> app;
};

// A request line for 2/18/2003 14:30, 5 long, at rate 20, for the channels, to a@b.example.
std::string fileRequestLine(const std::string& channels);
