#include "app/headless_runner.h"

#include <signal.h>

#include <cerrno>
#include <ctime>
#include <memory>
#include <ostream>

#include "app/mailer_app.h"
#include "app/metrics_file.h"
#include "app/service_notifier.h"
#include "platform/clock.h"

namespace {

const char* syslogLevel(LogPriority priority) {
    switch (priority) {
        case LogPriority::kFailure:
            return "<3>";  // err
        case LogPriority::kWarning:
            return "<4>";  // warning
        case LogPriority::kNotice:
            return "<5>";  // notice
        case LogPriority::kInfo:
            break;
    }
    return "<6>";  // info
}

// Prints each list line as it is added, with its syslog level in front when asked, and
// remembers when the last failure entry came.
class StreamLogView final : public LogView {
  public:
    StreamLogView(std::ostream& out, bool levelPrefix, Clock& clock)
        : out_(out), levelPrefix_(levelPrefix), clock_(clock) {}
    void oldestRemoved() override {}
    void entryAdded(const std::string& line) override { entryLogged(line, LogPriority::kInfo); }
    void entryLogged(const std::string& line, LogPriority priority) override {
        if (priority == LogPriority::kFailure)
            lastFailure_ = clock_.now();
        if (levelPrefix_)
            out_ << syslogLevel(priority);
        out_ << line << std::endl;
    }
    std::int64_t lastFailure() const { return lastFailure_; }

  private:
    std::ostream& out_;
    bool levelPrefix_;
    Clock& clock_;
    std::int64_t lastFailure_ = 0;
};

// Keeps the metrics file in step with the app; a file that cannot be written is reported once
// until a write succeeds again.
class MetricsKeeper {
  public:
    MetricsKeeper(const std::string& path, MailerApp& app, const StreamLogView& view)
        : app_(app), view_(view) {
        if (!path.empty())
            file_ = std::make_unique<MetricsFile>(path);
    }

    void update(bool up = true) {
        if (!file_)
            return;
        MetricsSnapshot snapshot;
        snapshot.up = up;
        snapshot.statistics = app_.statistics();
        snapshot.mailCheckEnabled = app_.settings().popEnable != 0;
        snapshot.repliesGivenUp = app_.repliesGivenUp();
        snapshot.heldReplies = app_.heldReplies();
        snapshot.queuedReplies = app_.cycle().resendQueue().size();
        snapshot.startTime = app_.startTime();
        snapshot.lastGoodCheck = app_.lastGoodCheck();
        snapshot.lastFailureEntry = view_.lastFailure();
        std::string error;
        if (file_->update(snapshot, error)) {
            failing_ = false;
        } else if (!failing_) {
            failing_ = true;
            app_.log().logMsg(true, "Metrics Error: %s", error.c_str());
        }
    }

  private:
    MailerApp& app_;
    const StreamLogView& view_;
    std::unique_ptr<MetricsFile> file_;
    bool failing_ = false;
};

std::int64_t monotonicMs() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Signals are blocked and taken synchronously, so no handler runs inside a mail dialogue.
class SignalWaiter {
public:
    SignalWaiter() {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        sigaddset(&set_, SIGUSR1);
        sigaddset(&set_, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &set_, &old_);
    }
    ~SignalWaiter() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

    // Waits up to milliseconds for one of the signals; returns it, or 0 when the time passed.
    int wait(std::int64_t milliseconds) {
        if (milliseconds < 0)
            milliseconds = 0;
        struct timespec timeout {static_cast<time_t>(milliseconds / 1000),
                                 static_cast<long>(milliseconds % 1000) * 1000000L};
        int sig = sigtimedwait(&set_, nullptr, &timeout);
        return sig > 0 ? sig : 0;
    }

private:
    sigset_t set_{};
    sigset_t old_{};
};

// The one-line status shown by "systemctl status".
std::string serviceStatus(MailerApp& app) {
    if (app.settings().popEnable == 0)
        return app.mailCheckOffReason().empty()
                   ? "Mail checking is off"
                   : "Mail checking is off: " + app.mailCheckOffReason();
    int minutes = app.settings().popCheckTime;
    return "Checking mail every " + std::to_string(minutes) +
           (minutes == 1 ? " minute" : " minutes");
}

}  // namespace

std::int64_t nextTickDeadline(std::int64_t previous, std::int64_t now, int periodMs) {
    std::int64_t next = previous + periodMs;
    return next > now ? next : now + periodMs;
}

int runHeadless(MailerApp& app, int tickMs, bool once, std::ostream& out) {
    HeadlessOptions options;
    options.tickMs = tickMs;
    options.once = once;
    return runHeadless(app, options, out);
}

int runHeadless(MailerApp& app, const HeadlessOptions& options, std::ostream& out) {
    // Signals are blocked before the run starts, so a SIGTERM at any moment ends it cleanly.
    SignalWaiter signals;
    StreamLogView view(out, options.levelPrefix || stdoutIsJournal(), app.clock());
    app.log().setView(&view);
    app.startUp();
    MetricsKeeper metrics(options.metricsFile, app, view);
    ServiceNotifier notifier;

    // A single run checks the mailbox at its first tick and never again.
    if (options.once)
        app.startSingleRun();
    metrics.update();
    notifier.ready(serviceStatus(app));
    bool reloadAsked = false;
    int exitCode = 0;
    std::int64_t deadline = monotonicMs() + options.tickMs;
    for (;;) {
        std::int64_t now = monotonicMs();
        if (now < deadline) {
            int sig = signals.wait(deadline - now);
            if (sig == SIGINT || sig == SIGTERM) {
                // What is left waits in the spool for the next run.
                exitCode = app.workLeft() ? kExitStoppedWithWorkLeft : 0;
                break;
            }
            if (sig == SIGUSR1)
                app.requestCheckNow();
            if (sig == SIGHUP && !reloadAsked) {
                reloadAsked = true;
                notifier.reloading();
                if (!app.mayReload())
                    notifier.status("Reload waits for the request in progress");
            }
            continue;
        }
        // Between two ticks: the request in progress has been answered or given up first.
        if (reloadAsked && app.mayReload()) {
            reloadAsked = false;
            app.reload();
            metrics.update();
            notifier.ready(serviceStatus(app));
        }
        app.onTick();
        metrics.update();
        if (options.once && app.finished()) {
            exitCode = app.exitCode();
            break;
        }
        deadline = app.nextTickNow() ? monotonicMs()
                                     : nextTickDeadline(deadline, monotonicMs(), options.tickMs);
    }
    notifier.stopping();
    // The file stays, saying the robot is down, so an alert can tell a stop from a silence.
    metrics.update(false);
    app.log().setView(nullptr);
    return exitCode;
}
