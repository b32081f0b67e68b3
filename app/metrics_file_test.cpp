#include "app/metrics_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "testing/temp_dir.h"

namespace {

MetricsSnapshot sample() {
    MetricsSnapshot s;
    s.statistics.popLoginAttempts = 4;
    s.statistics.goodPopLogins = 3;
    s.statistics.badPopLogins = 1;
    s.statistics.requestFiles = 2;
    s.statistics.eventFilesSent = 5;
    s.statistics.bytesSent = 123456;
    s.queuedReplies = 1;
    s.startTime = 1000000000;
    s.lastGoodCheck = 1000000120;
    s.mailCheckEnabled = true;
    s.statistics.sendFailures = 3;
    s.repliesGivenUp = 1;
    s.heldReplies = 2;
    for (int seconds : {0, 1, 3, 4000}) s.statistics.replyDelays.add(seconds);
    return s;
}

}  // namespace

TEST(RenderMetrics, GivesEveryValueWithItsHelpAndType) {
    EXPECT_EQ(
        "# HELP tarnwick_pop_login_attempts_total POP3 logins tried since start-up.\n"
        "# TYPE tarnwick_pop_login_attempts_total counter\n"
        "tarnwick_pop_login_attempts_total 4\n"
        "# HELP tarnwick_good_pop_logins_total Mail checks that read the mailbox to its end "
        "since start-up.\n"
        "# TYPE tarnwick_good_pop_logins_total counter\n"
        "tarnwick_good_pop_logins_total 3\n"
        "# HELP tarnwick_bad_pop_logins_total Mail checks that failed since start-up.\n"
        "# TYPE tarnwick_bad_pop_logins_total counter\n"
        "tarnwick_bad_pop_logins_total 1\n"
        "# HELP tarnwick_request_files_total Request lines taken from the mailbox since "
        "start-up.\n"
        "# TYPE tarnwick_request_files_total counter\n"
        "tarnwick_request_files_total 2\n"
        "# HELP tarnwick_event_files_sent_total Event files mailed to requesters since start-up.\n"
        "# TYPE tarnwick_event_files_sent_total counter\n"
        "tarnwick_event_files_sent_total 5\n"
        "# HELP tarnwick_sent_bytes_total Bytes sent to the mail servers since start-up.\n"
        "# TYPE tarnwick_sent_bytes_total counter\n"
        "tarnwick_sent_bytes_total 123456\n"
        "# HELP tarnwick_queued_replies Replies waiting in the resend queue.\n"
        "# TYPE tarnwick_queued_replies gauge\n"
        "tarnwick_queued_replies 1\n"
        "# HELP tarnwick_start_time_seconds Start of the run, seconds since the epoch.\n"
        "# TYPE tarnwick_start_time_seconds gauge\n"
        "tarnwick_start_time_seconds 1000000000\n"
        "# HELP tarnwick_last_successful_mail_check_timestamp_seconds Last mail check that read "
        "the mailbox, seconds since the epoch; 0 none yet.\n"
        "# TYPE tarnwick_last_successful_mail_check_timestamp_seconds gauge\n"
        "tarnwick_last_successful_mail_check_timestamp_seconds 1000000120\n"
        "# HELP tarnwick_last_failure_entry_timestamp_seconds Last failure entry of the activity "
        "log, seconds since the epoch; 0 none yet.\n"
        "# TYPE tarnwick_last_failure_entry_timestamp_seconds gauge\n"
        "tarnwick_last_failure_entry_timestamp_seconds 0\n"
        "# HELP tarnwick_up 1 while the robot runs; 0 once it has stopped (the file stays).\n"
        "# TYPE tarnwick_up gauge\n"
        "tarnwick_up 1\n"
        "# HELP tarnwick_mail_check_enabled 1 while mail checking is on; 0 when the settings "
        "leave it off.\n"
        "# TYPE tarnwick_mail_check_enabled gauge\n"
        "tarnwick_mail_check_enabled 1\n"
        "# HELP tarnwick_send_failures_total Replies the SMTP server did not take at a try since "
        "start-up.\n"
        "# TYPE tarnwick_send_failures_total counter\n"
        "tarnwick_send_failures_total 3\n"
        "# HELP tarnwick_replies_given_up_total Replies given up since start-up: refused for "
        "good, out of tries, or no room in the queue.\n"
        "# TYPE tarnwick_replies_given_up_total counter\n"
        "tarnwick_replies_given_up_total 1\n"
        "# HELP tarnwick_held_replies Replies held back by a station-side SMTP fault (login, TLS, "
        "greeting, sender).\n"
        "# TYPE tarnwick_held_replies gauge\n"
        "tarnwick_held_replies 2\n"
        "# HELP tarnwick_reply_delay_seconds Time from a request mail's arrival in the IMAP "
        "mailbox (INTERNALDATE) to its reply's acceptance by the SMTP server.\n"
        "# TYPE tarnwick_reply_delay_seconds histogram\n"
        "tarnwick_reply_delay_seconds_bucket{le=\"1\"} 2\n"
        "tarnwick_reply_delay_seconds_bucket{le=\"2\"} 2\n"
        "tarnwick_reply_delay_seconds_bucket{le=\"5\"} 3\n"
        "tarnwick_reply_delay_seconds_bucket{le=\"10\"} 3\n"
        "tarnwick_reply_delay_seconds_bucket{le=\"30\"} 3\n"
        "tarnwick_reply_delay_seconds_bucket{le=\"60\"} 3\n"
        "tarnwick_reply_delay_seconds_bucket{le=\"120\"} 3\n"
        "tarnwick_reply_delay_seconds_bucket{le=\"300\"} 3\n"
        "tarnwick_reply_delay_seconds_bucket{le=\"600\"} 3\n"
        "tarnwick_reply_delay_seconds_bucket{le=\"1800\"} 3\n"
        "tarnwick_reply_delay_seconds_bucket{le=\"3600\"} 3\n"
        "tarnwick_reply_delay_seconds_bucket{le=\"+Inf\"} 4\n"
        "tarnwick_reply_delay_seconds_sum 4004\n"
        "tarnwick_reply_delay_seconds_count 4\n",
        renderMetrics(sample()));
}

TEST(MetricsFile, IsReplacedWholeOnlyWhenWhatItShowsChanged) {
    TempDir dir;
    std::string path = dir.file("tarnwick.prom");
    MetricsFile file(path);
    std::string error;
    mode_t oldMask = ::umask(077);
    ASSERT_TRUE(file.update(sample(), error)) << error;
    EXPECT_EQ(renderMetrics(sample()), readFile(path));
    struct stat st {};
    ASSERT_EQ(0, ::stat(path.c_str(), &st));
    EXPECT_EQ(0644u, st.st_mode & 0777);  // for a collector that runs as another user
    ::umask(oldMask);

    // The same values: nothing is written (the removed file does not come back).
    ASSERT_EQ(0, ::unlink(path.c_str()));
    ASSERT_TRUE(file.update(sample(), error));
    EXPECT_NE(0, ::access(path.c_str(), F_OK));

    MetricsSnapshot later = sample();
    later.queuedReplies = 0;
    ASSERT_TRUE(file.update(later, error)) << error;
    EXPECT_EQ(renderMetrics(later), readFile(path));
    EXPECT_NE(0, ::access(dir.file(".tarnwick.prom.tmp").c_str(), F_OK));
}

TEST(MetricsFile, SaysWhyItCannotBeWrittenAndTriesAgainLater) {
    TempDir dir;
    MetricsFile file(dir.file("missing/tarnwick.prom"));
    std::string error;
    EXPECT_FALSE(file.update(sample(), error));
    EXPECT_EQ(
        "cannot create " + dir.file("missing/.tarnwick.prom.tmp") + ": No such file or directory",
        error);
    ASSERT_EQ(0, ::mkdir(dir.file("missing").c_str(), 0755));
    EXPECT_TRUE(file.update(sample(), error));
    EXPECT_EQ(renderMetrics(sample()), readFile(dir.file("missing/tarnwick.prom")));
}
