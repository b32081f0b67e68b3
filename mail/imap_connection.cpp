#include "mail/imap_connection.h"

#include <algorithm>
#include <cctype>

#include "activity/statistics.h"
#include "mail/access_token.h"
#include "mail/connection.h"
#include "mail/mail_lines.h"
#include "mail/sasl_oauth.h"
#include "mail/server_address.h"
#include "mail/tls_first_probe.h"
#include "settings/base64.h"
#include "settings/mailer_settings.h"
#include "settings/text_routines.h"

namespace {

// An answer line keeps at most this many bytes (a UID SEARCH answer of many thousand mails
// fits); the rest, up to its line feed, is read and dropped.
constexpr std::size_t kMaxAnswerLine = 1 << 20;
// The untagged lines one command keeps; a server that sends more has the rest read and dropped,
// and one that sends ten times as many is no longer listened to.
constexpr std::size_t kMaxUntagged = 100000;
constexpr std::size_t kMaxAnswerLines = 10 * kMaxUntagged;
// The caller's error text holds at most this many characters.
constexpr std::size_t kMaxErrorChars = 255;

std::string base64Of(const std::string& bytes) {
    Base64Coder coder;
    coder.encode(bytes.data(), bytes.size());
    return std::string(coder.encodedData(), coder.encodedLength());
}

// The size of the literal that ends the line ("... {123}" or "{123+}"); false when none.
bool literalAtEnd(const std::string& line, std::size_t& size) {
    if (line.empty() || line.back() != '}')
        return false;
    std::size_t open = line.rfind('{');
    if (open == std::string::npos)
        return false;
    std::string digits = line.substr(open + 1, line.size() - open - 2);
    if (!digits.empty() && digits.back() == '+')
        digits.pop_back();
    if (digits.empty() || digits.size() > 12 ||
        !std::all_of(digits.begin(), digits.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        return false;
    size = std::stoull(digits);
    return true;
}

}  // namespace

std::string imapQuoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

ImapConnection::ImapConnection(MailContext& ctx, std::string& error, const char* dialogue)
    : ctx_(ctx), error_(error), dialogue_(dialogue) {}

ImapConnection::~ImapConnection() {
    close();
}

void ImapConnection::close() {
    if (conn_)
        gensock_release(conn_);
    conn_ = nullptr;
}

void ImapConnection::setError(const std::string& text) {
    error_ = masked(text).substr(0, kMaxErrorChars);
}

std::string ImapConnection::masked(const std::string& text) const {
    return withoutSecret(withoutSecret(text, ctx_.settings.popPassword.str()), token_);
}

std::string ImapConnection::replyWords() const {
    std::size_t tagEnd = reply_.find(' ');
    std::size_t statusEnd = tagEnd == std::string::npos ? tagEnd : reply_.find(' ', tagEnd + 1);
    return masked(statusEnd == std::string::npos ? reply_ : reply_.substr(statusEnd + 1));
}

bool ImapConnection::hasCapability(std::string_view name) const {
    for (const std::string& capability : capabilities_)
        if (equalsIgnoreCase(capability, std::string(name)))
            return true;
    return false;
}

int ImapConnection::open(const ImapAddress& address) {
    host_ = address.server.host;
    ConnectionContext context;
    context.errorText = &error_;
    context.bytesSent = &ctx_.statistics.bytesSent;
    context.timeoutMs = ctx_.timeoutMs;
    context.transcript = ctx_.transcript;
    context.dialogue = dialogue_;
    int r = gensock_open(host_.c_str(), address.server.service.c_str(), context, &conn_);
    if (r != kGensockOk) {
        setError("IMAP Connect Error: " + host_ + ": " + gensockOpenReason(r));
        return 0;
    }
    if (address.server.tls == TlsMode::kImplicit) {
        if (gensock_start_tls(conn_, host_) != kGensockOk) {
            std::string hint = plainTextFirstHint(error_, kImapServerForms, address.server);
            if (!hint.empty())
                setError(error_ + "; " + hint);
            return close(), 0;
        }
        tls_ = true;
    } else if (std::string hint = tlsFirstHint(conn_, kImapServerForms, address.server, context);
               !hint.empty()) {
        setError("IMAP server " + host_ + " sent no greeting; " + hint);
        return close(), 0;
    }
    plainAsked_ = address.server.tls == TlsMode::kPlain;
    if (!greet())
        return close(), 0;
    if (address.server.tls == TlsMode::kStartTls && !startTls())
        return close(), 0;
    if (capabilities_.empty() && !readCapabilities())
        return close(), 0;
    return 1;
}

// The greeting: "* OK", with the capabilities when the server names them.
int ImapConnection::greet() {
    if (!readReplyLine()) {
        setError("IMAP server " + host_ + " did not greet");
        return 0;
    }
    if (reply_.compare(0, 5, "* OK ") != 0 && reply_ != "* OK") {
        serverSaid_ = reply_;
        setError("IMAP server " + host_ + " did not greet with OK");
        return 0;
    }
    std::size_t at = reply_.find("[CAPABILITY ");
    if (at != std::string::npos) {
        std::size_t end = reply_.find(']', at);
        takeCapabilities(std::string_view(reply_).substr(
            at + 12, end == std::string::npos ? std::string::npos : end - at - 12));
    }
    return 1;
}

void ImapConnection::takeCapabilities(std::string_view list) {
    capabilities_.clear();
    for (std::size_t at = 0; at < list.size();) {
        std::size_t end = list.find(' ', at);
        if (end == std::string_view::npos)
            end = list.size();
        if (end > at)
            capabilities_.emplace_back(list.substr(at, end - at));
        at = end + 1;
    }
}

int ImapConnection::readCapabilities() {
    if (command("CAPABILITY") != kOk) {
        setError("IMAP server " + host_ + " did not answer CAPABILITY");
        return 0;
    }
    for (const std::string& line : untagged_)
        if (startsWithIgnoringCase(line, "* capability "))
            takeCapabilities(std::string_view(line).substr(13));
    return 1;
}

int ImapConnection::startTls() {
    if (capabilities_.empty() && !readCapabilities())
        return 0;
    if (!hasCapability("STARTTLS")) {
        setError("IMAP server " + host_ + " does not offer STARTTLS: no password sent");
        return 0;
    }
    if (command("STARTTLS") != kOk) {
        serverSaid_ = reply_;
        setError("IMAP server " + host_ + " refused STARTTLS: no password sent");
        return 0;
    }
    if (gensock_start_tls(conn_, host_) != kGensockOk)
        return 0;
    tls_ = true;
    capabilities_.clear();  // what was said before TLS is not trusted
    return readCapabilities();
}

int ImapConnection::login(const std::string& token) {
    token_ = token;
    tokenRefused_ = false;
    int ok = popUsesOAuth2(ctx_.settings) ? oauthLogin(token) : passwordLogin();
    if (!ok)
        return 0;
    // The capabilities may grow with the login (MOVE, IDLE, UIDPLUS): the answer to the
    // login names them, or CAPABILITY tells.
    std::size_t at = toUpperAscii(reply_).find("[CAPABILITY ");
    if (at == std::string::npos)
        return readCapabilities();
    std::size_t end = reply_.find(']', at);
    takeCapabilities(std::string_view(reply_).substr(
        at + 12, end == std::string::npos ? std::string::npos : end - at - 12));
    return 1;
}

int ImapConnection::refusedLogin(const std::string& text) {
    serverSaid_ = reply_;
    setError(text);
    return 0;
}

// AUTHENTICATE PLAIN where the server offers it, else LOGIN; never on a connection without
// TLS that the setting did not ask to be plain.
int ImapConnection::passwordLogin() {
    if (!tls_ && !plainAsked_) {
        setError("IMAP server " + host_ + ": no password is sent without TLS");
        return 0;
    }
    const std::string user = ctx_.settings.popUser.str();
    const std::string password = ctx_.settings.popPassword.str();
    if (hasCapability("AUTH=PLAIN")) {
        std::string response =
            base64Of(std::string(1, '\0') + user + std::string(1, '\0') + password);
        Status status;
        if (hasCapability("SASL-IR")) {
            status = command("AUTHENTICATE PLAIN " + response, nullptr, 19);
        } else {
            status = commandToContinue("AUTHENTICATE PLAIN");
            if (status == kOk) {
                sendLine(response, 0);
                status = finish();
            }
        }
        if (status == kLost)
            return 0;
        if (status != kOk)
            return refusedLogin("User Login Password Error");
        mechanism_ = "AUTHENTICATE PLAIN";
        return 1;
    }
    if (hasCapability("LOGINDISABLED")) {
        setError("IMAP server " + host_ + " offers no login on this connection (LOGINDISABLED)");
        return 0;
    }
    std::string shown = "LOGIN " + imapQuoted(user) + " ";
    Status status = command(shown + imapQuoted(password), nullptr, shown.size());
    if (status == kLost)
        return 0;
    if (status != kOk)
        return refusedLogin("User Login Password Error");
    mechanism_ = "LOGIN";
    return 1;
}

// AUTHENTICATE OAUTHBEARER or XOAUTH2, whichever the capabilities offer (OAUTHBEARER first).
// A refused token is answered with the empty response, and its words go into error.
int ImapConnection::oauthLogin(const std::string& token) {
    std::vector<std::string> offered;
    for (const std::string& capability : capabilities_)
        if (startsWithIgnoringCase(capability, "auth="))
            offered.push_back(toUpperAscii(capability.substr(5)));
    std::string mechanism = chooseOAuthMechanism(offered);
    if (mechanism.empty()) {
        setError("IMAP server " + host_ + " offers no OAuth2 login (SASL OAUTHBEARER or XOAUTH2)");
        return 0;
    }
    std::string response = oauthInitialResponse(mechanism, ctx_.settings.popUser.str(), token);
    std::string start = "AUTHENTICATE " + mechanism;
    Status status;
    if (hasCapability("SASL-IR")) {
        status = commandToContinue(start + " " + response, start.size() + 1);
    } else {
        status = commandToContinue(start);
        if (status == kOk && reply_.compare(0, 1, "+") == 0) {
            sendLine(response, 0);
            status = finish();
            if (status == kOk && reply_.compare(0, 1, "+") != 0) {
                mechanism_ = mechanism;
                return 1;
            }
        }
    }
    if (status == kLost)
        return 0;
    if (status == kOk && reply_.compare(0, 1, "+") != 0) {
        mechanism_ = mechanism;
        return 1;
    }
    tokenRefused_ = true;
    if (reply_.compare(0, 1, "+") == 0) {
        std::string words = oauthChallengeWords(reply_.size() > 2 ? reply_.substr(2) : "");
        sendLine(oauthErrorAcknowledgement(mechanism), 0);
        finish();
        return refusedLogin("the server refused the OAuth2 token: " + masked(words));
    }
    return refusedLogin("the server refused the OAuth2 token: " + replyWords());
}

std::string ImapConnection::nextTag() {
    std::string tag = "t";
    return tag += std::to_string(++nextTag_);
}

void ImapConnection::sendLine(const std::string& text, std::size_t shownChars) {
    std::string line = text + "\r\n";
    int r = gensock_put_secret(conn_, line.data(), line.size(), shownChars);
    if (r != kGensockOk)
        setError("gensock_put_data " + std::to_string(r));
}

ImapConnection::Status ImapConnection::command(const std::string& text,
                                               const LiteralReader& literals,
                                               std::size_t shownChars) {
    tag_ = nextTag();
    sendLine(tag_ + " " + text,
             shownChars == std::string::npos ? shownChars : tag_.size() + 1 + shownChars);
    return readUpToTagged(literals, false);
}

ImapConnection::Status ImapConnection::commandToContinue(const std::string& text,
                                                         std::size_t shownChars) {
    tag_ = nextTag();
    sendLine(tag_ + " " + text,
             shownChars == std::string::npos ? shownChars : tag_.size() + 1 + shownChars);
    return readUpToTagged(nullptr, true);
}

ImapConnection::Status ImapConnection::finish(const LiteralReader& literals) {
    return readUpToTagged(literals, true);
}

// Reads answer lines up to the command's tagged one (or, with stopAtContinuation, a "+" line,
// which then stays in reply_ with kOk). The untagged lines are gathered, their literals read.
ImapConnection::Status ImapConnection::readUpToTagged(const LiteralReader& literals,
                                                      bool stopAtContinuation) {
    untagged_.clear();
    for (std::size_t lines = 0;; ++lines) {
        if (lines == kMaxAnswerLines || !readReplyLine()) {
            setError("IMAP Get Char Error");
            return kLost;
        }
        if (reply_.compare(0, 1, "+") == 0) {
            if (stopAtContinuation)
                return kOk;
            continue;
        }
        if (reply_.compare(0, 2, "* ") == 0) {
            std::string line = reply_;
            std::size_t size = 0;
            while (literalAtEnd(line, size)) {
                if (!readLiteral(size, literals) || !readReplyLine()) {
                    setError("IMAP Get Char Error");
                    return kLost;
                }
                line += reply_;
            }
            if (untagged_.size() < kMaxUntagged)
                untagged_.push_back(std::move(line));
            continue;
        }
        if (reply_.compare(0, tag_.size() + 1, tag_ + " ") == 0) {
            std::string status = toUpperAscii(reply_.substr(tag_.size() + 1, 3));
            if (status == "OK " || status == "OK")
                return kOk;
            serverSaid_ = reply_;
            return status.compare(0, 2, "NO") == 0 ? kNo : kBad;
        }
    }
}

bool ImapConnection::readLiteral(std::size_t size, const LiteralReader& literals) {
    if (literals)
        return literals(size);
    while (size > 0) {
        std::string_view line;
        std::size_t taken = 0;
        if (!readLiteralLine(size, line, taken))
            return false;
        size -= taken;
    }
    return true;
}

bool ImapConnection::readLiteralLine(std::size_t remaining, std::string_view& line,
                                     std::size_t& taken) {
    return gensock_read_within(conn_, &line, &spill_, kMaxMessageBytes + 1, remaining, &taken) ==
           kGensockOk;
}

// One answer line into reply_, without its CR LF, a zero byte read as a blank.
bool ImapConnection::readReplyLine() {
    std::string_view line;
    if (gensock_read_line(conn_, &line, &spill_, kMaxAnswerLine, true) != kGensockOk)
        return false;
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    reply_.assign(line);
    std::replace(reply_.begin(), reply_.end(), '\0', ' ');
    return true;
}

bool ImapConnection::readUntaggedLine(std::string& line) {
    if (!readReplyLine())
        return false;
    line = reply_;
    return true;
}

bool ImapConnection::dataWaiting(int waitMs) {
    return gensock_data_waiting(conn_, waitMs);
}

void ImapConnection::logout() {
    if (!conn_)
        return;
    command("LOGOUT");
    close();
}

std::unique_ptr<ImapConnection> openImapSession(MailContext& ctx, const ImapAddress& address,
                                                std::string& error, std::string* serverSaid,
                                                const char* dialogue) {
    const bool oauth = popUsesOAuth2(ctx.settings);
    for (bool fresh : {false, true}) {
        std::string token, why;
        if (oauth && !ctx.tokens) {
            error = "OAuth2 login asked for, but no token source is set up";
            return nullptr;
        }
        if (oauth && !ctx.tokens->accessToken(MailAccount::kPop, fresh, token, why)) {
            error = why;
            return nullptr;
        }
        auto imap = std::make_unique<ImapConnection>(ctx, error, dialogue);
        if (imap->open(address) && imap->login(token))
            return imap;
        if (serverSaid)
            *serverSaid = imap->serverSaid();
        if (!oauth || !imap->tokenRefused())
            return nullptr;
    }
    return nullptr;
}
