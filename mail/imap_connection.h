#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mail/imap_address.h"
#include "mail/mail_context.h"

class connection;

// One IMAP connection, from connecting to LOGOUT: the greeting, the capabilities, STARTTLS,
// the login and tagged commands whose untagged answers it gathers. Literals ("{N}") are read
// through the connection's bounded reader, never more than their size. Failure texts go into
// the caller's error text, never with the password or the token in them.
class ImapConnection {
  public:
    // How a tagged command ended.
    enum Status { kOk, kNo, kBad, kLost };

    // Reads the N bytes of a literal: called with N; must read exactly that many through
    // readLiteralLine. Returns false to end the command as lost.
    using LiteralReader = std::function<bool(std::size_t)>;

    ImapConnection(MailContext& ctx, std::string& error, const char* dialogue = "IMAP");
    ~ImapConnection();
    ImapConnection(const ImapConnection&) = delete;
    ImapConnection& operator=(const ImapConnection&) = delete;

    // Connects to the address, reads the greeting and, as the address asks, starts TLS (a
    // server that does not offer STARTTLS ends it with nothing sent). 1 on success; 0 with
    // "IMAP Connect Error: ...", "IMAP server HOST did not greet", ... in error.
    int open(const ImapAddress& address);

    // Logs in with the settings' POP account: with PopAuthMethod=oauth2 by AUTHENTICATE
    // OAUTHBEARER or XOAUTH2 with the access token given; else AUTHENTICATE PLAIN where offered,
    // or LOGIN. No password goes out on a connection without TLS unless the setting asked for
    // plain "imap://". 1 on success (mechanism() then names the way); 0 with the reason in
    // error and the server's own words in serverSaid(); tokenRefused() tells a refused token.
    int login(const std::string& token);

    // Sends "TAG command" and reads up to its tagged answer. Untagged lines are kept in
    // untagged() (a literal in them is read by literals, or read and dropped). The tagged line
    // is in lastReply(). shownChars: how much of the command a transcript shows.
    Status command(const std::string& text, const LiteralReader& literals = nullptr,
                   std::size_t shownChars = std::string::npos);

    // Sends "TAG command" and reads up to the server's continuation ("+ ...") or its tagged
    // answer; kOk for the continuation (the tagged answer is still to come then).
    Status commandToContinue(const std::string& text, std::size_t shownChars = std::string::npos);
    // Sends a line that is no command (a SASL response, "DONE"), as shown.
    void sendLine(const std::string& text, std::size_t shownChars = std::string::npos);
    // Reads up to the tagged answer of the last command.
    Status finish(const LiteralReader& literals = nullptr);

    // One line of a literal of which remaining bytes are unread: up to its line feed or its
    // end. The line is without its line feed; taken says how many bytes it used.
    bool readLiteralLine(std::size_t remaining, std::string_view& line, std::size_t& taken);

    // Reads one line the server sent unasked (during IDLE); false when it could not be read.
    bool readUntaggedLine(std::string& line);
    // True when a byte from the server waits, or arrives within waitMs.
    bool dataWaiting(int waitMs);

    // Sends LOGOUT, reads its answer, and closes.
    void logout();
    void close();

    bool hasCapability(std::string_view name) const;
    const std::vector<std::string>& untagged() const { return untagged_; }
    const std::string& lastReply() const { return reply_; }
    const std::string& mechanism() const { return mechanism_; }
    const std::string& host() const { return host_; }
    bool tokenRefused() const { return tokenRefused_; }
    // The server's words on a refused login or a failed command, no secret in them.
    std::string serverSaid() const { return masked(serverSaid_); }
    std::string masked(const std::string& text) const;
    // The tagged answer's words, after its tag and status, no secret in them.
    std::string replyWords() const;
    void setError(const std::string& text);

  private:
    int greet();
    int startTls();
    int readCapabilities();
    void takeCapabilities(std::string_view list);
    int passwordLogin();
    int oauthLogin(const std::string& token);
    int refusedLogin(const std::string& text);
    Status readUpToTagged(const LiteralReader& literals, bool stopAtContinuation);
    bool readReplyLine();
    bool readLiteral(std::size_t size, const LiteralReader& literals);
    std::string nextTag();

    MailContext& ctx_;
    std::string& error_;
    const char* dialogue_;
    connection* conn_ = nullptr;
    std::string host_;
    bool tls_ = false;
    bool plainAsked_ = false;
    std::vector<std::string> capabilities_;
    std::vector<std::string> untagged_;
    std::string reply_;
    std::string spill_;
    std::string tag_;
    std::string serverSaid_;
    std::string token_;
    std::string mechanism_;
    bool tokenRefused_ = false;
    unsigned nextTag_ = 0;
};

// The text as an IMAP quoted string: "text", with \ and " escaped.
std::string imapQuoted(const std::string& text);

// Connects to the address and logs in with the POP account; for an OAuth2 login with a token
// from ctx.tokens, fetched anew and tried once more on a new connection when the server
// refuses it. The connection when logged in; nullptr with the reason in error (and the
// server's words in serverSaid, if given).
std::unique_ptr<ImapConnection> openImapSession(MailContext& ctx, const ImapAddress& address,
                                                std::string& error, std::string* serverSaid,
                                                const char* dialogue = "IMAP");
