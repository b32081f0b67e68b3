#include "mail/pop3_reader.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

#include "activity/activity_log.h"
#include "activity/statistics.h"
#include "mail/access_token.h"
#include "mail/connection.h"
#include "mail/mail_lines.h"
#include "mail/mime_reader.h"
#include "mail/quoted_history.h"
#include "mail/raw_header.h"
#include "mail/request_key.h"
#include "mail/sasl_oauth.h"
#include "mail/server_address.h"
#include "mail/tls_first_probe.h"
#include "settings/mailer_settings.h"
#include "settings/text_routines.h"

namespace {

// A command goes out with its CR LF through a 256-byte line, so it holds at most this many.
constexpr std::size_t kMaxCommandChars = 253;
// The caller's error text holds at most this many characters.
constexpr std::size_t kMaxErrorChars = 255;

// The message count of a positive PASS reply: the number after the word "has" ("+OK ann has
// 2 messages"), the first "has" that a number follows. False when there is none.
bool countAfterHas(const std::string& reply, int& count) {
    for (std::size_t has = reply.find("has"); has != std::string::npos;
         has = reply.find("has", has + 1)) {
        bool word = has == 0 || reply[has - 1] == ' ';
        std::size_t digits = reply.find_first_not_of(' ', has + 3);
        if (word && digits > has + 3 && digits < reply.size() &&
            std::isdigit(static_cast<unsigned char>(reply[digits]))) {
            count = parseLeadingInt(reply.c_str() + has + 3);
            return true;
        }
    }
    return false;
}

// The size a RETR answer announces ("+OK 1200 octets"); 0 when it gives none.
std::size_t announcedOctets(const std::string& reply) {
    if (reply.compare(0, 4, "+OK ") != 0)
        return 0;
    std::size_t size = 0;  // at most 12 digits: no overflow
    for (std::size_t at = 4; at < std::min<std::size_t>(reply.size(), 16) &&
                             std::isdigit(static_cast<unsigned char>(reply[at]));
         ++at)
        size = size * 10 + static_cast<std::size_t>(reply[at] - '0');
    return size;
}

// One POP3 dialogue, from connecting to the goodbye. The steps write their failure texts
// into the caller's error text, a later text replacing an earlier one.
class Pop3Session {
  public:
    Pop3Session(MailContext& ctx, std::vector<CollectedLine>& lines, std::string& error,
                LineKeeper* keeper)
        : ctx_(ctx), lines_(lines), error_(error), keeper_(keeper) {}

    // The server's own words on a refused login, the password never among them; "" if none.
    std::string serverSaid() const { return masked(serverSaid_); }
    // The login's mechanism once logged in: "USER/PASS", "OAUTHBEARER" or "XOAUTH2".
    const std::string& mechanism() const { return mechanism_; }
    ~Pop3Session() {
        if (conn_)
            gensock_release(conn_);
    }
    Pop3Session(const Pop3Session&) = delete;
    Pop3Session& operator=(const Pop3Session&) = delete;

    int readMailbox();
    int checkLogin(int& messages);
    int mailsRead() const { return mailsRead_; }

  private:
    int popLogin();
    int connectAndGreet();
    int passwordLogin();
    int oauthLogin();
    void readCapabilities();
    int startTls(const std::string& host);
    int refused();
    int failLogin();
    int readMessageCount();
    int getMessage(long long number);
    int readDeleAnswer();
    int readRawLine(bool wholeLineInTime);
    int getPop3Line();
    int popSendLine(const std::string& command, bool isCommand = true,
                    std::size_t shownChars = std::string::npos);
    bool popQuit(bool everyMessageRead = false);

    bool replyIsOk() const { return reply_.compare(0, 3, "+OK") == 0; }
    // The server's reply as an entry may show it: never with the password or the token,
    // should it echo them.
    std::string shownReply() const { return masked(reply_); }
    std::string masked(const std::string& text) const {
        return withoutSecret(withoutSecret(text, ctx_.settings.popPassword.str()), token_);
    }
    void setError(const std::string& text) { error_ = text.substr(0, kMaxErrorChars); }

    MailContext& ctx_;
    std::vector<CollectedLine>& lines_;
    std::string& error_;
    LineKeeper* keeper_;
    connection* conn_ = nullptr;
    // The last line received as it came, without its line feed: where the connection holds
    // it, or in spill_; valid until the next read.
    std::string_view line_;
    std::string spill_;
    std::string reply_;  // the last line received, without its line end
    MessageBuffer message_;
    std::string serverSaid_;
    std::string host_;       // the server's host name, for the texts
    std::string token_;      // the OAuth2 access token of this login
    std::string mechanism_;  // how the login succeeded
    bool tokenRefused_ = false;
    int messageCount_ = 0;
    int mailsRead_ = 0;
    bool countFromPass_ = false;
    std::vector<std::string> saslOffered_;
    bool capabilitiesRead_ = false;
    bool pipelining_ = false;     // the server takes commands in a row
    bool retrSent_ = false;       // the next RETR went out ahead of the parse
    bool deleAnswerDue_ = false;  // the last DELE's answer is still to be read
};

int Pop3Session::readMailbox() {
    error_.clear();
    lines_.clear();
    if (!popLogin())
        return 0;
    if (!countFromPass_ && !readMessageCount()) {
        popQuit();
        return 0;
    }
    // Asking costs a round trip, which only a second message can repay.
    if (messageCount_ > 1 && !capabilitiesRead_)
        readCapabilities();
    int result = 1;
    // The count may be as large as INT_MAX; each message still needs its own replies, so a
    // server that runs out of them ends the loop with a failure.
    for (long long number = 1; number <= messageCount_; ++number) {
        if (!getMessage(number)) {
            result = 0;
            break;
        }
    }
    if (!popQuit(result == 1))
        result = 0;
    return result;
}

// Connects and logs in. On success the connection is open in the transaction state and the
// message count is known when the PASS reply told it. On failure the connection is closed
// without QUIT and error holds the reason. An OAuth2 login whose token the server refuses is
// tried once more, on a new connection, with a token fetched anew.
int Pop3Session::popLogin() {
    if (!popUsesOAuth2(ctx_.settings))
        return connectAndGreet() && passwordLogin();
    for (bool fresh : {false, true}) {
        std::string why;
        if (!ctx_.tokens) {
            setError("OAuth2 login asked for, but no token source is set up");
            return 0;
        }
        if (!ctx_.tokens->accessToken(MailAccount::kPop, fresh, token_, why)) {
            setError(why);
            return 0;
        }
        if (!connectAndGreet())
            return 0;
        tokenRefused_ = false;
        if (oauthLogin())
            return 1;
        if (!tokenRefused_)
            return 0;
    }
    return 0;
}

// Connects, reads the greeting and, as the server setting asks, starts TLS. On failure the
// connection is closed and error holds the reason.
int Pop3Session::connectAndGreet() {
    ServerAddress server;
    if (!parseServerSetting(ctx_.settings.popServer.str(), kPopServerForms, server)) {
        setError(
            "POP Connect Error: unknown server form (host, host:port, pop3s://host or "
            "pop3+starttls://host)");
        return 0;
    }
    ConnectionContext context{&error_, &ctx_.statistics.bytesSent, ctx_.timeoutMs,
                              ctx_.transcript, "POP3"};
    if (int r = gensock_open(server.host.c_str(), server.service.c_str(), context, &conn_)) {
        setError("POP Connect Error: " + server.host + ": " + gensockOpenReason(r));
        return 0;
    }
    if (server.tls == TlsMode::kImplicit && gensock_start_tls(conn_, server.host) != kGensockOk) {
        std::string hint = plainTextFirstHint(error_, kPopServerForms, server);
        if (!hint.empty())
            setError(error_ + "; " + hint);
        return failLogin();
    }
    if (server.tls != TlsMode::kImplicit) {
        std::string hint = tlsFirstHint(conn_, kPopServerForms, server, context);
        if (!hint.empty()) {
            setError("POP Connect Error: " + server.host + " sent no greeting; " + hint);
            return failLogin();
        }
    }
    if (!getPop3Line()) {
        setError("Login Error");
        return failLogin();
    }
    if (!replyIsOk()) {
        setError("Bad First +OK Login Error");
        return refused();
    }
    if (server.tls == TlsMode::kStartTls && !startTls(server.host))
        return failLogin();
    host_ = server.host;
    return 1;
}

// USER and PASS, after the greeting.
int Pop3Session::passwordLogin() {
    if (!popSendLine("USER " + ctx_.settings.popUser.str())) {
        setError("POP User Name Too Long");
        return failLogin();
    }
    if (!getPop3Line())
        return failLogin();
    if (!replyIsOk()) {
        setError("User Login Error");
        return refused();
    }
    const std::string pass = "PASS ";
    if (!popSendLine(pass + ctx_.settings.popPassword.str(), true, pass.size())) {
        setError("POP Password Too Long");
        return failLogin();
    }
    if (!getPop3Line())
        return failLogin();
    if (!replyIsOk()) {
        setError("User Login Password Error");
        return refused();
    }
    countFromPass_ = countAfterHas(reply_, messageCount_);
    mechanism_ = "USER/PASS";
    return 1;
}

// AUTH with OAUTHBEARER or XOAUTH2, whichever CAPA offers (OAUTHBEARER first), after the
// greeting. The first response goes with the command when it fits the command line, else
// after the server's "+". A server that refuses the token answers with a challenge: the empty
// response ends the exchange and the server's decoded words go into error; tokenRefused_ is
// set then.
int Pop3Session::oauthLogin() {
    readCapabilities();
    std::string mechanism = chooseOAuthMechanism(saslOffered_);
    if (mechanism.empty()) {
        setError("POP server " + host_ + " offers no OAuth2 login (SASL OAUTHBEARER or XOAUTH2)");
        return failLogin();
    }
    std::string response = oauthInitialResponse(mechanism, ctx_.settings.popUser.str(), token_);
    if (!popSendLine("AUTH " + mechanism + " " + response, true, mechanism.size() + 6)) {
        popSendLine("AUTH " + mechanism);
        if (!getPop3Line())
            return failLogin();
        if (reply_.compare(0, 1, "+") != 0 || replyIsOk()) {
            setError("POP server " + host_ + " refused AUTH " + mechanism);
            return refused();
        }
        popSendLine(response, false, 0);
    }
    if (!getPop3Line())
        return failLogin();
    if (replyIsOk()) {
        mechanism_ = mechanism;
        return 1;
    }
    tokenRefused_ = true;
    if (reply_.compare(0, 1, "+") == 0) {
        std::string words = oauthChallengeWords(reply_.size() > 2 ? reply_.substr(2) : "");
        popSendLine(oauthErrorAcknowledgement(mechanism), false);
        getPop3Line();  // the final refusal
        setError("the server refused the OAuth2 token: " + masked(words));
        return failLogin();
    }
    setError("the server refused the OAuth2 token: " + shownReply());
    return refused();
}

// Asks with CAPA for the SASL mechanisms (its "SASL" line) and whether the server takes
// commands in a row ("PIPELINING"); neither when CAPA is refused.
void Pop3Session::readCapabilities() {
    saslOffered_.clear();
    pipelining_ = false;
    capabilitiesRead_ = true;
    popSendLine("CAPA");
    if (!getPop3Line() || !replyIsOk())
        return;
    // A capability list is short; a server that never ends it ends the login.
    for (int lines = 0; lines < 200 && getPop3Line() && reply_ != "."; ++lines) {
        if (startsWithIgnoringCase(reply_, "sasl "))
            saslOffered_ = saslMechanisms(reply_.substr(5));
        else if (startsWithIgnoringCase(reply_, "pipelining") &&
                 reply_.find_first_not_of(' ', 10) == std::string::npos)
            pipelining_ = true;
    }
}

// Asks for TLS with STLS and runs the handshake. Returns 0 with the reason in error when the
// server does not offer it or the handshake fails; nothing else has been sent then.
int Pop3Session::startTls(const std::string& host) {
    popSendLine("STLS");
    if (!getPop3Line())
        return 0;
    if (!replyIsOk()) {
        setError("POP server " + host + " does not offer STLS: no password sent");
        serverSaid_ = reply_;
        return 0;
    }
    return gensock_start_tls(conn_, host) == kGensockOk;
}

// A failed login on the server's negative reply, which is kept for the operator.
int Pop3Session::refused() {
    serverSaid_ = reply_;
    return failLogin();
}

// Closes the connection of a failed login; the login's error text stays.
int Pop3Session::failLogin() {
    gensock_release(conn_);
    conn_ = nullptr;
    return 0;
}

// Asks with STAT: "+OK 3 4200" gives a count of 3. Any other answer is an error, never an
// empty mailbox.
int Pop3Session::readMessageCount() {
    popSendLine("STAT");
    if (!getPop3Line())
        return 0;
    std::size_t digits = reply_.find_first_not_of(' ', 3);
    if (!replyIsOk() || digits == 3 || digits == std::string::npos ||
        !std::isdigit(static_cast<unsigned char>(reply_[digits]))) {
        setError("Bad STAT Reply");
        ctx_.log.logMsg(true, "Bad STAT Reply = %s", shownReply().c_str());
        serverSaid_ = reply_;
        return 0;
    }
    messageCount_ = parseLeadingInt(reply_.c_str() + 3);
    return 1;
}

// Retrieves one message, keeps its request lines and deletes it. On failure the lines
// collected before it stay, the reason is logged and left in error. A server that takes
// commands in a row (PIPELINING) is asked for the next message before this one is parsed, so
// that it sends while the robot reads; the DELE's answer then follows that message.
int Pop3Session::getMessage(long long number) {
    if (!retrSent_)
        popSendLine("RETR " + std::to_string(number));
    retrSent_ = false;
    if (!getPop3Line()) {
        ctx_.log.logMsg(true, "Bad GetMessage getPOP3Line After RETR Sent");
        return 0;
    }
    if (!replyIsOk()) {
        setError("Bad RETR OK in getMessage");
        ctx_.log.logMsg(true, "Bad RETR OK Get Message = %s", shownReply().c_str());
        serverSaid_ = reply_;
        return 0;
    }
    MessageLines message(message_);
    message_.expect(std::min<std::size_t>(announcedOctets(reply_), kMaxMessageBytes));
    for (;;) {
        if (!readRawLine(false)) {
            ctx_.log.logMsg(true, "Bad getPop3Line return in getMessage");
            // The whole lines of a plain mail are kept, as they would have been served.
            for (std::string& line : message.plainLines()) lines_.emplace_back(std::move(line));
            return 0;
        }
        if (message.take(line_) == MessageLines::kEnd)
            break;
    }
    ++mailsRead_;
    if (deleAnswerDue_ && !readDeleAnswer())
        return 0;
    if (pipelining_ && number < messageCount_) {
        popSendLine("RETR " + std::to_string(number + 1));
        retrSent_ = true;
    }
    if (!MailLineCollector(ctx_, keeper_, lines_).collect(message_, message, static_cast<int>(number)))
        return 1;  // left on the server
    popSendLine("DELE " + std::to_string(number));
    deleAnswerDue_ = true;
    return retrSent_ || readDeleAnswer();
}

// Reads the answer to the last DELE.
int Pop3Session::readDeleAnswer() {
    deleAnswerDue_ = false;
    if (!getPop3Line()) {
        ctx_.log.logMsg(true, "Bad DELE +OK in Get Message");
        return 0;
    }
    if (!replyIsOk()) {
        setError("Bad Delete Message +OK in Get Message");
        ctx_.log.logMsg(true, "Bad Delete Message +OK in Get Message");
        serverSaid_ = reply_;
        return 0;
    }
    return 1;
}

// Reads one line into line_ as it came, in runs, without its line feed: a reply line must
// arrive whole within the time limit, a message line block by block. Returns 0 with "POP Get
// Char Error" when it could not be read.
int Pop3Session::readRawLine(bool wholeLineInTime) {
    if (gensock_read_line(conn_, &line_, &spill_, kMaxMessageBytes + 1, wholeLineInTime) !=
        kGensockOk) {
        setError("POP Get Char Error");
        return 0;
    }
    return 1;
}

// Reads one reply line into reply_ as replyText gives it. Returns 0 with "POP Get Char Error"
// when it could not be read whole within the time limit.
int Pop3Session::getPop3Line() {
    if (!readRawLine(true))
        return 0;
    reply_ = replyText(line_);
    return 1;
}

// Sends the command with CR LF. A failed send leaves "gensock_put_data %d" in error and
// still counts as sent: the reply read that follows reports the failure. Returns 0, sending
// nothing, only for a command too long for the command line (a SASL response is no command
// and may be longer). A transcript shows only the first shownChars characters of it.
int Pop3Session::popSendLine(const std::string& command, bool isCommand, std::size_t shownChars) {
    if (isCommand && command.size() > kMaxCommandChars)
        return 0;
    std::string line = command + "\r\n";
    int r = gensock_put_secret(conn_, line.data(), line.size(), shownChars);
    if (r != kGensockOk)
        setError("gensock_put_data " + std::to_string(r));
    return 1;
}

// Sends QUIT, reads one reply, and closes the connection. A failed read or close replaces the
// error text, never the result of the dialogue. When every message was read and QUIT is
// answered "+OK", the keeper learns that the mailbox committed its deletions.
bool Pop3Session::popQuit(bool everyMessageRead) {
    if (keeper_ && !lines_.empty() && !keeper_->keepLines(lines_)) {
        // Without QUIT the server deletes nothing: the mail is read again next time.
        setError("Spool Error: the request lines could not be kept; the mail stays on the server");
        lines_.clear();
        gensock_release(conn_);
        conn_ = nullptr;
        return false;
    }
    popSendLine("QUIT");
    if (getPop3Line() && replyIsOk() && everyMessageRead && keeper_)
        keeper_->mailboxCommitted();
    if (gensock_release(conn_) != kGensockOk)
        setError("POP Close Error");
    conn_ = nullptr;
    return true;
}

}  // namespace

int readMailbox(MailContext& ctx, std::vector<CollectedLine>& lines, std::string& error,
                std::string* serverSaid, LineKeeper* keeper, int* mailsRead) {
    Pop3Session session(ctx, lines, error, keeper);
    int result = session.readMailbox();
    if (serverSaid)
        *serverSaid = session.serverSaid();
    if (mailsRead)
        *mailsRead = session.mailsRead();
    return result;
}

int readMailbox(MailContext& ctx, std::vector<std::string>& lines, std::string& error) {
    std::vector<CollectedLine> collected;
    int result = readMailbox(ctx, collected, error, nullptr, nullptr);
    lines.clear();
    for (CollectedLine& line : collected) lines.push_back(std::move(line.text));
    return result;
}

namespace {

// Logs in, asks with STAT and says goodbye; no message is retrieved or marked for deletion.
int Pop3Session::checkLogin(int& messages) {
    error_.clear();
    if (!popLogin())
        return 0;
    int result = readMessageCount();
    if (result)
        messages = messageCount_;
    popQuit();
    return result;
}

}  // namespace

int checkMailbox(MailContext& ctx, int& messages, std::string& error, std::string* serverSaid,
                 std::string* mechanism) {
    std::vector<CollectedLine> none;
    Pop3Session session(ctx, none, error, nullptr);
    messages = 0;
    int result = session.checkLogin(messages);
    if (serverSaid)
        *serverSaid = session.serverSaid();
    if (mechanism)
        *mechanism = session.mechanism();
    return result;
}
