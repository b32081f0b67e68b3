#include "spool/spool.h"
#include "mail/mail_digest.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <tuple>

#include "activity/activity_log.h"
#include "settings/text_routines.h"
#include "testing/fake_clock.h"
#include "testing/temp_dir.h"

using ::testing::HasSubstr;

namespace {

TEST(Spool, AJobComesBackWithItsFilesTriesAndEveryField) {
    TempDir dir;
    FakeClock clock;
    ActivityLog log(clock, "");
    writeFile(dir.file("0302181430.bhz.mqx"), "event data");
    MailJob job;
    job.to = "a@b.example";
    job.from = "ANMO Robot <robot@anmo>";
    job.subject = "Your Event File";
    job.body = "Here is your event file.\r\n\r\nbody:\r\nto=x\r\n";
    job.inReplyTo = "request-1@b.example";
    job.attachments[0] = dir.file("0302181430.bhz.mqx");
    job.attachmentCount = 1;
    std::string id;
    {
        Spool spool(dir.path(), log);
        ASSERT_TRUE(spool.open());
        std::string error;
        id = spool.keepJob(job, error);
        ASSERT_FALSE(id.empty());
        EXPECT_FALSE(fileExists(dir.file("0302181430.bhz.mqx")));
        job.tries = 3;
        EXPECT_TRUE(spool.saveJob(id, job));
    }
    struct stat st;
    ASSERT_EQ(0, stat(dir.file("spool").c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);

    Spool spool(dir.path(), log);
    ASSERT_TRUE(spool.open());
    auto jobs = spool.loadJobs();
    ASSERT_EQ(1u, jobs.size());
    const MailJob& back = jobs[0].second;
    EXPECT_EQ(id, jobs[0].first);
    EXPECT_EQ(jobText(job), jobText(back));
    EXPECT_EQ(job.body.str(), back.body.str());
    EXPECT_EQ(dir.file("spool/queue/" + id + "/0302181430.bhz.mqx"), back.attachments[0]);
    EXPECT_EQ("event data", readFile(back.attachments[0].str()));

    spool.keepUndelivered(id, back);
    std::string undelivered = dir.file("spool/undelivered/" + id + "/");
    EXPECT_EQ("event data", readFile(undelivered + "0302181430.bhz.mqx"));
    EXPECT_FALSE(fileExists(undelivered + "job"));
    EXPECT_TRUE(spool.loadJobs().empty());
}

TEST(Spool, AnOlderJobFileLosesItsAccountWhenLoaded) {
    TempDir dir;
    FakeClock clock;
    ActivityLog log(clock, "");
    ASSERT_TRUE(Spool(dir.path(), log).open());
    ASSERT_EQ(0, mkdir(dir.file("spool/queue/000000000050").c_str(), 0700));
    writeFile(dir.file("spool/queue/000000000050/job"),
              "tarnwick spool job 1\nto=a@b.example\nfrom=R <r@s>\nsmtp-server=old.example\n"
              "smtp-auth=1\nsmtp-user=robot\nsmtp-password=736563726574\nsubject=S\n"
              "in-reply-to=\ntries=2\nbody:\nHello.\r\n");
    Spool spool(dir.path(), log);
    ASSERT_TRUE(spool.open());
    auto jobs = spool.loadJobs();
    ASSERT_EQ(1u, jobs.size());
    EXPECT_EQ(2, jobs[0].second.tries);
    EXPECT_EQ("Hello.\r\n", jobs[0].second.body);
    EXPECT_EQ("tarnwick spool job 1\nto=a@b.example\nfrom=R <r@s>\nsubject=S\nin-reply-to=\n"
              "tries=2\nbody:\nHello.\r\n",
              readFile(dir.file("spool/queue/000000000050/job")));
}

// An event file moves into the job's folder from the same file system (a rename) and from
// another (a synced copy, then the original removed); either way the job names it there and
// nothing is left where it was.
TEST(Spool, EventFilesMoveInFromTheSameAndAnotherFileSystem) {
    TempDir dir;
    FakeClock clock;
    ActivityLog log(clock, "");
    Spool spool(dir.path(), log);
    ASSERT_TRUE(spool.open());
    std::string shm = "/dev/shm/tarnwick-spool-test-" + std::to_string(::getpid()) + "/";
    ASSERT_EQ(0, mkdir(shm.c_str(), 0700));
    for (const std::string& from : {dir.path(), shm}) {
        SCOPED_TRACE(from);
        writeFile(from + "0302181430.bhz.mqx", "event data from " + from);
        MailJob job;
        job.to = "a@b.example";
        job.attachments[0] = from + "0302181430.bhz.mqx";
        job.attachmentCount = 1;
        std::string error;
        std::string id = spool.keepJob(job, error);
        ASSERT_FALSE(id.empty()) << error;
        EXPECT_EQ(dir.file("spool/queue/" + id + "/0302181430.bhz.mqx"), job.attachments[0]);
        EXPECT_EQ("event data from " + from, readFile(job.attachments[0].str()));
        EXPECT_FALSE(fileExists(from + "0302181430.bhz.mqx"));
    }
    rmdir(shm.c_str());
    EXPECT_EQ(2u, spool.loadJobs().size());
}

// A folder a crash left half built (its line is still in the spool) or half removed (its reply
// was sent) is taken up quietly; only an entry that cannot be read goes to bad/.
TEST(Spool, TornOrForeignEntriesAreSetAsideNeverLost) {
    TempDir dir;
    FakeClock clock;
    ActivityLog log(clock, "");
    ASSERT_TRUE(Spool(dir.path(), log).open());
    ASSERT_EQ(0, mkdir(dir.file("spool/queue/000000000050").c_str(), 0700));
    writeFile(dir.file("spool/queue/000000000050/job"), "tarnwick spool job 1\nto=a\n");
    ASSERT_EQ(0, mkdir(dir.file("spool/queue/.000000000060").c_str(), 0700));
    writeFile(dir.file("spool/queue/.000000000060/0302181430.bhz.mqx"), "half moved");
    ASSERT_EQ(0, mkdir(dir.file("spool/queue/000000000065").c_str(), 0700));
    writeFile(dir.file("spool/queue/000000000065/0302181430.bhn.mqx"), "sent already");
    writeFile(dir.file("spool/lines/000000000070"), "tarnwick spool line 2\ntext=x\n");
    Spool spool(dir.path(), log);
    ASSERT_TRUE(spool.open());
    EXPECT_TRUE(spool.loadJobs().empty());
    EXPECT_TRUE(spool.loadLines().empty());
    EXPECT_TRUE(fileExists(dir.file("spool/bad/job-000000000050/job")));
    EXPECT_TRUE(fileExists(dir.file("spool/bad/line-000000000070")));
    EXPECT_FALSE(fileExists(dir.file("spool/queue/.000000000060")));
    EXPECT_FALSE(fileExists(dir.file("spool/queue/000000000065")));
    ASSERT_EQ(2u, log.entries().size());
    EXPECT_THAT(log.entries()[0], HasSubstr("queue/000000000050 cannot be read: moved to"));
    EXPECT_EQ(0, spool.failures());

    // New entries are numbered past every old one.
    std::vector<CollectedLine> lines = {"stationinfo=a@b.example"};
    ASSERT_TRUE(spool.keepLines(lines));
    EXPECT_EQ("000000000071/1", lines[0].spoolId);
}

// A line entry as an earlier version wrote it: one line a file.
std::string oldEntry(const CollectedLine& line) {
    return "tarnwick spool line 1\ntext=" + line.text + "\nsender=" + line.sender +
           "\nmessage-id=" + line.messageId + "\nmail-key=" + line.mailKey +
           "\nmail=" + std::to_string(line.mail) + "\nof=" + std::to_string(line.linesOfMail) +
           "\n";
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

// The lines of a check are one entry, written with one file sync; a line done is marked, and the
// entry goes with its last line, the done-log with the last entry. A done-log that names entries
// no longer there (a power cut brought it back) never marks a later one.
TEST(Spool, TheLinesOfACheckAreOneEntryThatGoesWithItsLastLine) {
    TempDir dir;
    FakeClock clock;
    ActivityLog log(clock, "");
    std::vector<CollectedLine> lines = {"stationinfo=a@b.example", "stationinfo=c@d.example",
                                        "stationinfo=e@f.example"};
    lines[1].mailKey = "m@d.example 9 ab";
    lines[1].mail = 2;
    lines[1].linesOfMail = 1;
    lines[2].sender = "e@f.example";
    lines[2].messageId = "r@f.example";
    lines[2].mail = 3;
    lines[2].linesOfMail = 1;
    {
        Spool spool(dir.path(), log);
        ASSERT_TRUE(spool.open());
        ASSERT_TRUE(spool.keepLines(lines));
        EXPECT_EQ(1u, filesIn(dir.file("spool/lines")).size());
        ASSERT_TRUE(spool.removeLine(lines[1].spoolId));
        spool.syncDoneMarks();
    }
    {
        Spool spool(dir.path(), log);
        ASSERT_TRUE(spool.open());
        std::vector<CollectedLine> left = spool.loadLines();
        ASSERT_EQ(2u, left.size());
        EXPECT_EQ("stationinfo=a@b.example", left[0].text);
        const CollectedLine& e = left[1];
        EXPECT_EQ(std::tuple(lines[2].text, lines[2].sender, lines[2].messageId, 3, 1,
                             lines[2].spoolId),
                  std::tuple(e.text, e.sender, e.messageId, e.mail, e.linesOfMail, e.spoolId));
        // The entry is whole: the mail of the line done is still taken.
        EXPECT_TRUE(spool.wasTaken("m@d.example 9 ab"));
        for (const CollectedLine& line : left) ASSERT_TRUE(spool.removeLine(line.spoolId));
        EXPECT_EQ(std::vector<std::string>{}, filesIn(dir.file("spool/lines")));
        EXPECT_FALSE(fileExists(dir.file("spool/lines-done")));
    }
    writeFile(dir.file("spool/lines-done"),
              "tarnwick spool lines-done 1\n000000000090/1\n000000000091/1\n0000000");
    {
        Spool spool(dir.path(), log);
        ASSERT_TRUE(spool.open());
        EXPECT_TRUE(spool.loadLines().empty());
        std::vector<CollectedLine> more = {"stationinfo=g@h.example"};
        ASSERT_TRUE(spool.keepLines(more));
        EXPECT_EQ("000000000092/1", more[0].spoolId);
    }
    Spool spool(dir.path(), log);
    ASSERT_TRUE(spool.open());
    EXPECT_EQ(1u, spool.loadLines().size());
    EXPECT_TRUE(log.entries().empty());
}

// Many lines are several entries, made durable by one sync of their folder at the end. A power
// cut before it may keep one entry and not the next: only a mail all of whose lines came back
// counts as taken, and the others are read again. Lines that cannot be written are none kept.
TEST(Spool, ManyLinesAreSeveralEntriesAndAMailCutOffBetweenThemIsReadAgain) {
    TempDir dir;
    FakeClock clock;
    ActivityLog log(clock, "");
    std::vector<CollectedLine> lines;
    auto addMail = [&lines](const std::string& key, int mail, int count) {
        for (int i = 0; i < count; ++i) {
            CollectedLine line("stationinfo=" + std::string(200, 'a') + "@b.example");
            line.mailKey = key;
            line.mail = mail;
            line.linesOfMail = count;
            lines.push_back(line);
        }
    };
    addMail("whole@x 1 aa", 1, 500);
    addMail("across@x 2 bb", 2, 1200);
    addMail("last@x 3 cc", 3, 1);
    {
        Spool spool(dir.path(), log);
        ASSERT_TRUE(spool.open());
        ASSERT_TRUE(spool.keepLines(lines));
    }
    std::vector<std::string> kept = filesIn(dir.file("spool/lines"));
    ASSERT_EQ(2u, kept.size());
    std::sort(kept.begin(), kept.end());
    ASSERT_EQ(0, unlink(dir.file("spool/lines/" + kept[1]).c_str()));
    {
        Spool spool(dir.path(), log);
        ASSERT_TRUE(spool.open());
        std::size_t back = spool.loadLines().size();
        EXPECT_GT(back, 500u);
        EXPECT_LT(back, 1700u);
        EXPECT_TRUE(spool.wasTaken("whole@x 1 aa"));
        EXPECT_FALSE(spool.wasTaken("across@x 2 bb"));
        EXPECT_FALSE(spool.wasTaken("last@x 3 cc"));
    }
    // The folder for the lines goes while the robot runs (a file stands in its place): nothing
    // is kept, and the mail is not taken.
    Spool spool(dir.path(), log);
    ASSERT_TRUE(spool.open());
    ASSERT_EQ(0, unlink(dir.file("spool/lines/" + kept[0]).c_str()));
    ASSERT_EQ(0, rmdir(dir.file("spool/lines").c_str()));
    writeFile(dir.file("spool/lines"), "");
    std::vector<CollectedLine> more = {"stationinfo=a@b.example"};
    more[0].mailKey = "more@x 1 dd";
    EXPECT_FALSE(spool.keepLines(more));
    EXPECT_EQ("", more[0].spoolId);
    EXPECT_FALSE(spool.wasTaken("more@x 1 dd"));
    EXPECT_EQ(1, spool.failures());
    EXPECT_THAT(log.entries().back(), HasSubstr("Spool Error: cannot create "));
}

// A mail is taken once all its lines are kept, in this run or, found whole in the spool, the
// one before, and stays taken until the mailbox commits; a mail whose lines were cut off or
// that has no Message-ID is not.
TEST(Spool, AMailIsTakenWhenAllItsLinesAreKept) {
    TempDir dir;
    FakeClock clock;
    ActivityLog log(clock, "");
    std::vector<CollectedLine> lines = {"stationinfo=a@b.example", "stationinfo=c@b.example",
                                        "stationinfo=e@d.example", "stationinfo=g@h.example"};
    for (int i : {0, 1}) {
        lines[i].mailKey = "one@b.example 100 ab12";
        lines[i].mail = 1;
        lines[i].linesOfMail = 2;
    }
    lines[2].mailKey = "two@d.example 50 cd34";
    lines[2].mail = 2;
    lines[2].linesOfMail = 1;
    lines[3].mail = 3;
    lines[3].linesOfMail = 1;
    {
        Spool spool(dir.path(), log);
        ASSERT_TRUE(spool.open());
        EXPECT_FALSE(spool.wasTaken("one@b.example 100 ab12"));
        ASSERT_TRUE(spool.keepLines(lines));
        EXPECT_TRUE(spool.wasTaken("one@b.example 100 ab12"));
        EXPECT_FALSE(spool.wasTaken("one@b.example 100 ef56"));  // another mail, same id
        spool.mailboxCommitted();
        EXPECT_FALSE(spool.wasTaken("one@b.example 100 ab12"));
    }
    auto takenAfterRestart = [&](std::size_t spooled) {
        Spool spool(dir.path(), log);
        EXPECT_TRUE(spool.open());
        EXPECT_EQ(spooled, spool.loadLines().size());
        std::string taken;
        for (const char* key : {"one@b.example 100 ab12", "two@d.example 50 cd34", ""})
            taken += spool.wasTaken(key) ? std::string(key, std::strchr(key, ' ')) + " " : "";
        return taken;
    };
    EXPECT_EQ("one@b.example two@d.example ", takenAfterRestart(4));
    // An earlier version kept a line a file, and stopped after the first line of mail 1 was
    // kept: mail 1 is read again.
    ASSERT_EQ(0, unlink(dir.file("spool/lines/" + lines[0].spoolId.substr(0, 12)).c_str()));
    for (int i : {0, 2, 3})
        writeFile(dir.file("spool/lines/00000000000" + std::to_string(i + 1)), oldEntry(lines[i]));
    EXPECT_EQ("two@d.example ", takenAfterRestart(3));
    // Its lines are served before the server was seen to delete it: the mail stays taken across
    // another stop, until the mailbox commits.
    {
        Spool spool(dir.path(), log);
        ASSERT_TRUE(spool.open());
        for (const CollectedLine& line : spool.loadLines()) spool.removeLine(line.spoolId);
    }
    EXPECT_EQ("two@d.example ", takenAfterRestart(0));
    {
        Spool spool(dir.path(), log);
        ASSERT_TRUE(spool.open());
        spool.loadLines();
        spool.mailboxCommitted();
    }
    EXPECT_EQ("", takenAfterRestart(0));
    EXPECT_TRUE(log.entries().empty());
}

// What the spool set aside is removed once it is older than the limit, folders with their
// files, each with an entry; what is newer stays.
TEST(Spool, SetAsideEntriesAreRemovedAfterTheirDays) {
    TempDir dir;
    FakeClock clock;
    ActivityLog log(clock, "");
    Spool spool(dir.path(), log);
    ASSERT_TRUE(spool.open());
    ASSERT_EQ(0, mkdir(dir.file("spool/set-aside").c_str(), 0700));
    ASSERT_EQ(0, mkdir(dir.file("spool/undelivered/000000000005").c_str(), 0700));
    writeFile(dir.file("spool/undelivered/000000000005/0302181430.bhz.mqx"), "given up");
    writeFile(dir.file("spool/bad/line-000000000007"), "torn");
    writeFile(dir.file("spool/bad/line-000000000008"), "torn later");
    writeFile(dir.file("spool/set-aside/mail-1"), "poison");
    const std::int64_t now = ::time(nullptr);
    const std::int64_t day = 86400;
    auto age = [&](const std::string& path, std::int64_t days) {
        struct timespec times[2] = {{static_cast<time_t>(now - days * day), 0},
                                    {static_cast<time_t>(now - days * day), 0}};
        ASSERT_EQ(0, utimensat(AT_FDCWD, dir.file(path).c_str(), times, 0));
    };
    age("spool/undelivered/000000000005", 31);
    age("spool/bad/line-000000000007", 31);
    age("spool/bad/line-000000000008", 29);
    age("spool/set-aside/mail-1", 31);
    spool.removeOldEntries(now, 30);
    EXPECT_FALSE(fileExists(dir.file("spool/undelivered/000000000005")));
    EXPECT_FALSE(fileExists(dir.file("spool/bad/line-000000000007")));
    EXPECT_TRUE(fileExists(dir.file("spool/bad/line-000000000008")));
    EXPECT_FALSE(fileExists(dir.file("spool/set-aside/mail-1")));
    EXPECT_THAT(log.entries(),
                ::testing::ElementsAre(
                    "02/19 07:05:09 Spool entry " + dir.file("spool/bad/line-000000000007") +
                        " removed: older than 30 days",
                    "02/19 07:05:09 Spool entry " + dir.file("spool/undelivered/000000000005") +
                        " removed: older than 30 days",
                    "02/19 07:05:09 Spool entry " + dir.file("spool/set-aside/mail-1") +
                        " removed: older than 30 days"));
    EXPECT_EQ(0, spool.failures());
}

}  // namespace

TEST(Spool, AMailCountsTheRunsThatStoppedParsingItUntilItIsSetAside) {
    TempDir dir;
    FakeClock clock;
    ActivityLog log(clock, "");
    const std::string mail = "Subject: x\n\nbody\n", other = "Subject: y\n\n";
    // run: what the mail's reading gives, and whether the run parses it to its end
    struct Run {
        LineKeeper::Reading reading;
        bool stops;
        int stopsAfter;  // the stops counted for the mail at the next start
    } runs[] = {
        {LineKeeper::Reading::kParse, true, 1},
        {LineKeeper::Reading::kParse, false, 0},  // parsed: forgotten
        {LineKeeper::Reading::kParse, true, 1},
        {LineKeeper::Reading::kParse, true, 2},
        {LineKeeper::Reading::kSetAside, false, 0},
    };
    for (const Run& run : runs) {
        Spool spool(dir.path(), log);
        ASSERT_TRUE(spool.open());
        EXPECT_EQ(LineKeeper::Reading::kParse, spool.startReading(other, mailDigest(other)));  // read before it
        spool.readingDone();
        EXPECT_EQ(run.reading, spool.startReading(mail, mailDigest(mail)));
        if (!run.stops)
            spool.readingDone();
        Spool next(dir.path(), log);
        ASSERT_TRUE(next.open());
        ReadingNote note(dir.file("spool/"), log);
        note.open();
        EXPECT_EQ(run.stopsAfter, note.stopsOf(mailDigest(mail)));
    }
    EXPECT_EQ(mail, readFile(dir.file("spool/set-aside/") + "a8feb3bd723123b6.eml"));
}

TEST(Spool, AQueuedReplyWhoseFolderOrEventFileIsALinkIsSetAsideNeverSent) {
    struct {
        const char* name;
        bool folderIsLink;  // else the event file is
    } cases[] = {{"the job's folder swapped for a link", true},
                 {"an event file that is a link", false}};
    for (const auto& c : cases) {
        TempDir dir;
        FakeClock clock;
        ActivityLog log(clock, "");
        writeFile(dir.file("tarnwick.ini"), "PopKeyStr=736563726574\n");
        writeFile(dir.file("x.mqx"), "event data");
        MailJob job;
        job.to = "a@b.example";
        job.attachments[0] = dir.file("x.mqx");
        job.attachmentCount = 1;
        Spool spool(dir.path(), log);
        ASSERT_TRUE(spool.open());
        std::string error;
        std::string id = spool.keepJob(job, error);
        ASSERT_FALSE(id.empty());
        std::string folder = dir.file("spool/queue/" + id);
        if (c.folderIsLink) {
            // Elsewhere: a job naming the settings file as its event file.
            ASSERT_EQ(0, mkdir(dir.file("elsewhere").c_str(), 0700));
            writeFile(dir.file("elsewhere/job"), jobText(job));
            ASSERT_EQ(0, symlink(dir.path().c_str(), dir.file("elsewhere/x.mqx").c_str()));
            ASSERT_EQ(0, rename(folder.c_str(), dir.file("old").c_str()));
            ASSERT_EQ(0, symlink(dir.file("elsewhere").c_str(), folder.c_str()));
        } else {
            ASSERT_EQ(0, unlink((folder + "/x.mqx").c_str()));
            ASSERT_EQ(0, symlink(dir.file("tarnwick.ini").c_str(), (folder + "/x.mqx").c_str()));
        }
        Spool again(dir.path(), log);
        ASSERT_TRUE(again.open());
        EXPECT_TRUE(again.loadJobs().empty()) << c.name;
        EXPECT_THAT(log.entries().back(), HasSubstr("cannot be read: moved to")) << c.name;
    }
}
