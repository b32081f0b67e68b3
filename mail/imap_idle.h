#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "mail/imap_address.h"
#include "mail/mail_context.h"
#include "mail/new_mail_watch.h"

class ImapConnection;

// Waits for new mail in IMAP IDLE (RFC 2177) on a connection of its own, between the checks,
// driven by the tick: no thread, no wait longer than a look at the socket while idling. Opening
// the connection (connect, login, SELECT, IDLE) runs inside a tick like any mail dialogue.
//
// While the POP server setting names an IMAP mailbox and mail checking is on, each tick reads
// what the server said: an EXISTS that raises the folder's count is new mail (takeNewMail).
// IDLE is renewed every 25 minutes (DONE, then IDLE again). A connection that drops or cannot
// be opened is tried again after a delay that grows from 1 s to 5 min; it is logged
// "IMAP IDLE connection down: REASON; mail is checked every N minutes meanwhile" (file) only once
// it has stayed down for a minute, and "IMAP IDLE connection open again" when it comes back
// after that. A server without IDLE is only polled ("IMAP server HOST offers no IDLE: mail is
// checked every N minutes", once). The first time IDLE waits, "Waiting for new mail (IMAP
// IDLE)" is logged (list only), once a run. A change of the server, folder or account in the
// settings opens the connection anew.
class ImapIdleWatch final : public NewMailWatch {
  public:
    static constexpr int kRenewSeconds = 25 * 60;
    static constexpr int kLongestDelaySeconds = 300;
    static constexpr int kQuietDownSeconds = 60;

    explicit ImapIdleWatch(MailContext context);
    ~ImapIdleWatch() override;
    ImapIdleWatch(const ImapIdleWatch&) = delete;
    ImapIdleWatch& operator=(const ImapIdleWatch&) = delete;

    // Where the IDLE dialogue is shown from now on; nullptr: nowhere.
    void setTranscript(DialogueTranscript* transcript) { context_.transcript = transcript; }

    // One tick: opens the connection when it is due, reads what the server said, renews IDLE.
    void onTick();
    bool takeNewMail() override;

    // True while IDLE waits on an open connection.
    bool idling() const { return state_ == State::kIdling; }

  private:
    enum class State { kOff, kIdling, kDown, kNoIdle };

    bool wanted() const;
    std::string account() const;
    void open();
    bool startIdle();
    void readAnnouncements();
    void renew();
    void dropped(const std::string& reason);
    void stop();

    MailContext context_;
    std::unique_ptr<ImapConnection> imap_;
    std::string error_;
    std::string account_;  // the server, folder and user the connection was opened for
    State state_ = State::kOff;
    std::int64_t idleSince_ = 0;
    std::int64_t nextTry_ = 0;
    std::int64_t downSince_ = 0;
    int delay_ = 0;
    bool downLogged_ = false;
    bool waitingLogged_ = false;
    bool newMail_ = false;
    std::uint32_t exists_ = 0;
};
