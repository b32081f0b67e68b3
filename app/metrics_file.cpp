#include "app/metrics_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

void addMetric(std::string& text, const char* name, const char* type, const char* help,
               std::int64_t value) {
    text += "# HELP ";
    text += name;
    text += ' ';
    text += help;
    text += "\n# TYPE ";
    text += name;
    text += ' ';
    text += type;
    text += '\n';
    text += name;
    text += ' ';
    text += std::to_string(value);
    text += '\n';
}

// The reply delays as a Prometheus histogram.
void addReplyDelays(std::string& text, const ReplyDelays& delays) {
    const char* name = "tarnwick_reply_delay_seconds";
    text += std::string("# HELP ") + name +
            " Time from a request mail's arrival in the IMAP mailbox (INTERNALDATE) to its "
            "reply's acceptance by the SMTP server.\n# TYPE " + name + " histogram\n";
    for (std::size_t i = 0; i < ReplyDelays::kBounds.size(); ++i)
        text += std::string(name) + "_bucket{le=\"" + std::to_string(ReplyDelays::kBounds[i]) +
                "\"} " + std::to_string(delays.buckets[i]) + "\n";
    text += std::string(name) + "_bucket{le=\"+Inf\"} " + std::to_string(delays.count) + "\n";
    text += std::string(name) + "_sum " + std::to_string(delays.sumSeconds) + "\n";
    text += std::string(name) + "_count " + std::to_string(delays.count) + "\n";
}

// The temporary name beside the path: ".<name>.tmp" in the same folder.
std::string temporaryName(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, start) + "." + path.substr(start) + ".tmp";
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string renderMetrics(const MetricsSnapshot& s) {
    const Statistics& c = s.statistics;
    std::string text;
    addMetric(text, "tarnwick_pop_login_attempts_total", "counter",
              "POP3 logins tried since start-up.", c.popLoginAttempts);
    addMetric(text, "tarnwick_good_pop_logins_total", "counter",
              "Mail checks that read the mailbox to its end since start-up.", c.goodPopLogins);
    addMetric(text, "tarnwick_bad_pop_logins_total", "counter",
              "Mail checks that failed since start-up.", c.badPopLogins);
    addMetric(text, "tarnwick_request_files_total", "counter",
              "Request lines taken from the mailbox since start-up.", c.requestFiles);
    addMetric(text, "tarnwick_event_files_sent_total", "counter",
              "Event files mailed to requesters since start-up.", c.eventFilesSent);
    addMetric(text, "tarnwick_sent_bytes_total", "counter",
              "Bytes sent to the mail servers since start-up.", c.bytesSent);
    addMetric(text, "tarnwick_queued_replies", "gauge", "Replies waiting in the resend queue.",
              static_cast<std::int64_t>(s.queuedReplies));
    addMetric(text, "tarnwick_start_time_seconds", "gauge",
              "Start of the run, seconds since the epoch.", s.startTime);
    addMetric(text, "tarnwick_last_successful_mail_check_timestamp_seconds", "gauge",
              "Last mail check that read the mailbox, seconds since the epoch; 0 none yet.",
              s.lastGoodCheck);
    addMetric(text, "tarnwick_last_failure_entry_timestamp_seconds", "gauge",
              "Last failure entry of the activity log, seconds since the epoch; 0 none yet.",
              s.lastFailureEntry);
    addMetric(text, "tarnwick_up", "gauge",
              "1 while the robot runs; 0 once it has stopped (the file stays).", s.up ? 1 : 0);
    addMetric(text, "tarnwick_mail_check_enabled", "gauge",
              "1 while mail checking is on; 0 when the settings leave it off.",
              s.mailCheckEnabled ? 1 : 0);
    addMetric(text, "tarnwick_send_failures_total", "counter",
              "Replies the SMTP server did not take at a try since start-up.",
              c.sendFailures);
    addMetric(text, "tarnwick_replies_given_up_total", "counter",
              "Replies given up since start-up: refused for good, out of tries, or no room in "
              "the queue.",
              s.repliesGivenUp);
    addMetric(text, "tarnwick_held_replies", "gauge",
              "Replies held back by a station-side SMTP fault (login, TLS, greeting, sender).",
              s.heldReplies);
    addReplyDelays(text, c.replyDelays);
    return text;
}

bool MetricsFile::update(const MetricsSnapshot& snapshot, std::string& error) {
    std::string text = renderMetrics(snapshot);
    if (text == written_)
        return true;
    std::string temporary = temporaryName(path_);
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        error = "cannot create " + temporary + ": " + std::strerror(errno);
        return false;
    }
    // The collector may run as another user: readable by all, whatever the umask.
    bool written = ::fchmod(fd, 0644) == 0 && writeAll(fd, text);
    int savedErrno = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        savedErrno = errno;
    }
    if (!written || std::rename(temporary.c_str(), path_.c_str()) != 0) {
        if (written)
            savedErrno = errno;
        ::unlink(temporary.c_str());
        error = "cannot write " + path_ + ": " + std::strerror(savedErrno);
        return false;
    }
    written_ = std::move(text);
    return true;
}
