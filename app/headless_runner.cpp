#include "app/headless_runner.h"

#include <signal.h>

#include <cerrno>
#include <ctime>
#include <ostream>

#include "app/mailer_app.h"

namespace {

// Prints each list line as it is added.
class StreamLogView final : public LogView {
public:
    explicit StreamLogView(std::ostream& out) : out_(out) {}
    void oldestRemoved() override {}
    void entryAdded(const std::string& line) override { out_ << line << std::endl; }

private:
    std::ostream& out_;
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

}  // namespace

std::int64_t nextTickDeadline(std::int64_t previous, std::int64_t now, int periodMs) {
    std::int64_t next = previous + periodMs;
    return next > now ? next : now + periodMs;
}

int runHeadless(MailerApp& app, int tickMs, bool once, std::ostream& out) {
    // Signals are blocked before the run starts, so a SIGTERM at any moment ends it cleanly.
    SignalWaiter signals;
    StreamLogView view(out);
    app.log().setView(&view);
    app.startUp();

    // A single run checks the mailbox at its first tick and never again.
    if (once)
        app.startSingleRun();
    int exitCode = 0;
    std::int64_t deadline = monotonicMs() + tickMs;
    for (;;) {
        std::int64_t now = monotonicMs();
        if (now < deadline) {
            int sig = signals.wait(deadline - now);
            if (sig == SIGINT || sig == SIGTERM)
                break;
            if (sig == SIGUSR1)
                app.requestCheckNow();
            continue;
        }
        app.onTick();
        if (once && app.finished()) {
            exitCode = app.exitCode();
            break;
        }
        deadline = nextTickDeadline(deadline, monotonicMs(), tickMs);
    }
    app.log().setView(nullptr);
    return exitCode;
}
