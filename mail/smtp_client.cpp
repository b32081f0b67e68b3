#include "mail/smtp_client.h"

#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "activity/activity_log.h"
#include "activity/statistics.h"
#include "mail/access_token.h"
#include "settings/base64.h"
#include "mail/greeting_name.h"
#include "mail/tls_first_probe.h"
#include "mail/mail_error.h"
#include "mail/sasl_oauth.h"
#include "settings/mailer_settings.h"
#include "settings/text_routines.h"

namespace {

constexpr std::size_t kMaxRecipientChars = 511;
constexpr const char* kNameSeparators = " ,\n\t\r";

// Sends a command as it stands; a failed send shows in the reply that then cannot be read.
void sendCommand(SmtpDialogue& dialogue, const std::string& command) {
    gensock_put_data(dialogue.conn, command.data(), command.size());
}

// The same for a command whose text after its first shownChars bytes is a secret.
void sendSecret(SmtpDialogue& dialogue, const std::string& command, std::size_t shownChars) {
    gensock_put_secret(dialogue.conn, command.data(), command.size(), shownChars);
}

void releaseConnection(SmtpDialogue& dialogue) {
    if (dialogue.conn) {
        gensock_release(dialogue.conn);
        dialogue.conn = nullptr;
    }
}

void quitAndRelease(SmtpDialogue& dialogue) {
    sendCommand(dialogue, "QUIT\r\n");
    releaseConnection(dialogue);
}

// Reads one line into replyLine, up to and including its line feed (the first 1023 bytes of a
// longer line). The whole line must arrive within the time limit. Returns 0, or the
// connection's result when a read failed.
int readLine(SmtpDialogue& dialogue) {
    std::string& line = dialogue.replyLine;
    int result = gensock_read_line(dialogue.conn, &line, SmtpDialogue::maxReplyChars, true);
    if (result != 0)
        return result;
    if (line.size() < SmtpDialogue::maxReplyChars)
        line += '\n';
    return 0;
}

// The number at the start of the line: leading white space and a sign allowed, 0 for none.
int replyCode(const std::string& line) {
    errno = 0;
    long code = std::strtol(line.c_str(), nullptr, 10);
    if (code > INT_MAX || code < INT_MIN)
        return 0;
    return static_cast<int>(code);
}

// The base64 text after "334 " of the last reply line, decoded and compared ignoring case.
bool promptIs(const SmtpDialogue& dialogue, const char* expected) {
    const std::string& line = dialogue.replyLine;
    Base64Coder coder;
    coder.decode(line.size() > 4 ? line.c_str() + 4 : "");
    return strcasecmp(reinterpret_cast<const char*>(coder.decodedData()), expected) == 0;
}

std::string encodedLine(const std::string& text) {
    Base64Coder coder;
    coder.encode(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    return std::string(coder.encodedData(), coder.encodedLength()) + "\r\n";
}

// The command format with its one "%s" replaced by the argument.
std::string formatCommand(std::string_view format, const std::string& argument) {
    std::size_t at = format.find("%s");
    std::string command;
    command.reserve(format.size() + argument.size());
    command.append(format.substr(0, at)).append(argument).append(format.substr(at + 2));
    return command;
}

// A refusal at RCPT that is about the station, not the recipient: servers that delay their
// refusals of the greeting name, the sender or the client until RCPT (Postfix does by default)
// say so in these words.
bool refusesTheStation(const std::string& reply) {
    for (const char* words :
         {"Helo command rejected", "Sender address rejected", "Client host rejected"})
        if (reply.find(words) != std::string::npos)
            return true;
    return false;
}

// Announces every name of the recipient list. Returns 1, or 0 after smtpFail.
int sendRecipients(SmtpDialogue& dialogue, const std::string& recipients) {
    std::size_t start = recipients.find_first_not_of(kNameSeparators);
    while (start != std::string::npos) {
        std::size_t end = recipients.find_first_of(kNameSeparators, start);
        std::string name = recipients.substr(start, end == std::string::npos ? end : end - start);
        sendCommand(dialogue, formatCommand("RCPT To: <%s>\r\n", name));
        if (smtpReadReply(dialogue) != 250) {
            bool station = refusesTheStation(dialogue.replyLine);
            smtpFail(dialogue, "The mail server doesn't like the name %s", name.c_str());
            if (station)
                dialogue.failure = SendFailure::kStationSide;
            return 0;
        }
        start = end == std::string::npos ? end : recipients.find_first_not_of(kNameSeparators, end);
    }
    return 1;
}

// The first position at or after from where a byte pair starts that the transmission
// changes: CR CR (the second CR is dropped) or LF "." (the full stop is doubled). Returns n
// when there is none. Sixteen positions are looked at in one step.
std::size_t findStuffingPair(const char* data, std::size_t from, std::size_t n) {
    using Bytes = char __attribute__((vector_size(16)));
    std::size_t i = from;
    for (; i + sizeof(Bytes) + 1 <= n; i += sizeof(Bytes)) {
        Bytes first, second;
        std::memcpy(&first, data + i, sizeof first);
        std::memcpy(&second, data + i + 1, sizeof second);
        Bytes hits = ((first == '\r') & (second == '\r')) | ((first == '\n') & (second == '.'));
        std::uint64_t halves[2];
        std::memcpy(halves, &hits, sizeof halves);
        if ((halves[0] | halves[1]) != 0)
            break;  // the pair is among these sixteen positions
    }
    for (; i + 1 < n; ++i) {
        if ((data[i] == '\r' && data[i + 1] == '\r') || (data[i] == '\n' && data[i + 1] == '.'))
            return i;
    }
    return n;
}

}  // namespace

SmtpDialogue::SmtpDialogue(MailContext& mailContext, std::string& errorText)
    : context(mailContext), error(errorText) {
    connectionContext.errorText = &errorText;
    connectionContext.bytesSent = &mailContext.statistics.bytesSent;
    connectionContext.timeoutMs = mailContext.timeoutMs;
    connectionContext.transcript = mailContext.transcript;
    connectionContext.dialogue = "SMTP";
}

std::string buildRecipientList(const std::string& to) {
    std::string list;
    std::size_t i = 0;
    const std::size_t n = to.size();
    while (i < n) {
        while (i < n && to[i] == ' ') ++i;
        if (i < n && to[i] == '(') {
            std::size_t close = to.find(')', i + 1);
            i = close == std::string::npos ? n : close + 1;
        }
        if (i < n && to[i] == '\'') {
            std::size_t close = to.find('\'', i + 1);
            i = close == std::string::npos ? n : close + 1;
        }
        if (i < n) {
            if (list.size() < kMaxRecipientChars)
                list += to[i];
            ++i;
        }
    }
    return list;
}

int smtpConnect(SmtpDialogue& dialogue, std::string& localHost) {
    const std::string setting = dialogue.context.settings.smtpServer.str();
    ServerAddress server;
    if (!parseServerSetting(setting, kSmtpServerForms, server)) {
        setMailError(dialogue.error,
                     "Can't connect to %s: unknown server form (host, host:port, smtps://host or "
                     "smtp+starttls://host)",
                     setting.c_str());
        return 0;
    }
    dialogue.tls = server.tls;
    dialogue.host = server.host;
    dialogue.server = server;
    connection* conn = nullptr;
    if (int r = gensock_open(server.host.c_str(), server.service.c_str(),
                             dialogue.connectionContext, &conn);
        r != 0 || !conn) {
        setMailError(dialogue.error, "Can't connect to %s: %s", setting.c_str(),
                     gensockOpenReason(r ? r : kGensockNoConnection));
        return 0;
    }
    dialogue.conn = conn;
    if (server.tls == TlsMode::kImplicit && gensock_start_tls(conn, server.host) != 0) {
        std::string hint = plainTextFirstHint(dialogue.error, kSmtpServerForms, server);
        if (!hint.empty())
            setMailError(dialogue.error, "%s; %s", dialogue.error.c_str(), hint.c_str());
        dialogue.failure = SendFailure::kStationSide;
        releaseConnection(dialogue);
        return 0;
    }
    if (server.tls != TlsMode::kImplicit) {
        std::string hint = tlsFirstHint(conn, kSmtpServerForms, server, dialogue.connectionContext);
        if (!hint.empty()) {
            setMailError(dialogue.error, "SMTP server %s sent no greeting; %s",
                         server.host.c_str(), hint.c_str());
            dialogue.failure = SendFailure::kStationSide;
            releaseConnection(dialogue);
            return 0;
        }
    }
    localHost = greetingName(dialogue.context.settings);
    if (localHost.empty()) {
        setMailError(dialogue.error, "Can't get local host name");
        releaseConnection(dialogue);
        return 0;
    }
    return 1;
}

int smtpReadReply(SmtpDialogue& dialogue) {
    do {
        if (readLine(dialogue) != 0)
            return 1;
    } while (dialogue.replyLine.size() > 3 && dialogue.replyLine[3] == '-');
    return replyCode(dialogue.replyLine);
}

void smtpFail(SmtpDialogue& dialogue, const char* format, ...) {
    char text[kMaxMailErrorChars + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    dialogue.error = text;
    dialogue.context.log.logMsg(true, "SMTP Error: %s", text);
    const std::string& reply = dialogue.replyLine;
    bool answered = reply.size() >= 4 && (reply[0] == '4' || reply[0] == '5') &&
                    std::isdigit(static_cast<unsigned char>(reply[1])) &&
                    std::isdigit(static_cast<unsigned char>(reply[2]));
    // Before the recipients every refusal is of the station's own side; after, a 5xx refuses
    // this mail for good.
    if (dialogue.atRecipients)
        dialogue.failure =
            answered && reply[0] == '5' ? SendFailure::kRefusedForGood : SendFailure::kTryAgain;
    else if (answered)
        dialogue.failure = SendFailure::kStationSide;
    if (!reply.empty() && reply[0] >= '2' && reply[0] <= '5') {
        std::string said = withoutSecret(
            withoutSecret(reply.substr(0, reply.find_first_of("\r\n")), dialogue.password),
            dialogue.token);
        dialogue.context.log.logMsg(true, "SMTP server said: %s", said.c_str());
        // A plain server that asks for TLS first ("530 5.7.0 Must issue a STARTTLS command").
        if (dialogue.tls == TlsMode::kPlain &&
            toUpperAscii(said).find("STARTTLS") != std::string::npos)
            dialogue.context.log.logMsg(true, "SMTP hint: the server asks for TLS: %s",
                                        startTlsForm(kSmtpServerForms, dialogue.server).c_str());
    }
    quitAndRelease(dialogue);
}

int smtpEhlo(SmtpDialogue& dialogue, const std::string& localHost) {
    sendCommand(dialogue, formatCommand("EHLO %s\r\n", localHost));
    dialogue.extensions.clear();
    do {
        if (readLine(dialogue) != 0)
            return 1;
        std::string keyword = dialogue.replyLine.size() > 4 ? dialogue.replyLine.substr(4) : "";
        keyword.erase(keyword.find_last_not_of("\r\n") + 1);
        dialogue.extensions.push_back(toUpperAscii(keyword));
    } while (dialogue.replyLine.size() > 3 && dialogue.replyLine[3] == '-');
    return replyCode(dialogue.replyLine);
}

namespace {

// True when word is one of the blank-separated words of words.
bool hasWord(std::string_view words, std::string_view word) {
    while (!words.empty()) {
        std::size_t blank = words.find(' ');
        if (words.substr(0, blank) == word)
            return true;
        if (blank == std::string_view::npos)
            break;
        words.remove_prefix(blank + 1);
    }
    return false;
}

}  // namespace

bool smtpOffers(const SmtpDialogue& dialogue, const std::string& keyword) {
    const std::string_view auth = "AUTH ";
    for (const std::string& line : dialogue.extensions) {
        if (line == keyword)
            return true;
        if (line.starts_with(auth) && keyword.starts_with(auth) &&
            hasWord(std::string_view(line).substr(auth.size()),
                    std::string_view(keyword).substr(auth.size())))
            return true;
    }
    return false;
}

bool smtpOffersLogin(const SmtpDialogue& dialogue) {
    for (const std::string& line : dialogue.extensions)
        if (line.starts_with("AUTH ") || line.starts_with("AUTH="))
            return true;
    return false;
}

int smtpGreetSecurely(SmtpDialogue& dialogue, const std::string& localHost) {
    int code = smtpEhlo(dialogue, localHost);
    if (code != 250 && dialogue.tls == TlsMode::kImplicit && !dialogue.context.settings.smtpAuth &&
        !smtpUsesOAuth2(dialogue.context.settings)) {
        sendCommand(dialogue, formatCommand("HELO %s\r\n", localHost));
        code = smtpReadReply(dialogue);
    }
    if (code != 250) {
        smtpFail(dialogue, "SMTP server error");
        return 0;
    }
    if (dialogue.tls != TlsMode::kStartTls)
        return 1;
    if (!smtpOffers(dialogue, "STARTTLS")) {
        smtpFail(dialogue, "SMTP server %s does not offer STARTTLS: no password sent",
                 dialogue.host.c_str());
        dialogue.failure = SendFailure::kStationSide;
        return 0;
    }
    sendCommand(dialogue, "STARTTLS\r\n");
    if (smtpReadReply(dialogue) != 220) {
        smtpFail(dialogue, "SMTP server %s refused STARTTLS: no password sent",
                 dialogue.host.c_str());
        return 0;
    }
    if (gensock_start_tls(dialogue.conn, dialogue.host) != 0) {
        dialogue.context.log.logMsg(true, "SMTP Error: %s", dialogue.error.c_str());
        dialogue.failure = SendFailure::kStationSide;
        releaseConnection(dialogue);
        return 0;
    }
    if (smtpEhlo(dialogue, localHost) != 250) {
        smtpFail(dialogue, "SMTP server error");
        return 0;
    }
    return 1;
}

int smtpAuthenticate(SmtpDialogue& dialogue) {
    if (smtpUsesOAuth2(dialogue.context.settings))
        return smtpAuthOAuth2(dialogue);
    if (dialogue.tls != TlsMode::kPlain && !smtpOffers(dialogue, "AUTH LOGIN") &&
        smtpOffers(dialogue, "AUTH PLAIN"))
        return smtpAuthPlain(dialogue);
    return smtpAuthLogin(dialogue);
}

int smtpAuthOAuth2(SmtpDialogue& dialogue) {
    std::vector<std::string> offered;
    for (const std::string& line : dialogue.extensions)
        if (line.compare(0, 5, "AUTH ") == 0 || line.compare(0, 5, "AUTH=") == 0)
            for (const std::string& name : saslMechanisms(line.substr(5))) offered.push_back(name);
    std::string mechanism = chooseOAuthMechanism(offered);
    if (mechanism.empty()) {
        smtpFail(dialogue, "SMTP server %s offers no OAuth2 login (AUTH OAUTHBEARER or XOAUTH2)",
                 dialogue.host.c_str());
        dialogue.failure = SendFailure::kStationSide;
        return 0;
    }
    const std::string& user = dialogue.context.settings.smtpUser.str();
    const std::string command = "AUTH " + mechanism + " ";
    sendSecret(dialogue, command + oauthInitialResponse(mechanism, user, dialogue.token) + "\r\n",
               command.size());
    int code = smtpReadReply(dialogue);
    if (code == 235) {
        dialogue.mechanism = mechanism;
        return 1;
    }
    if (code == 1) {
        smtpFail(dialogue, "Bad authentication response from mail server");
        return 0;
    }
    dialogue.tokenRefused = true;
    std::string words;
    if (code == 334) {
        const std::string& line = dialogue.replyLine;
        words = oauthChallengeWords(line.size() > 4 ? line.substr(4) : "");
        sendCommand(dialogue, oauthErrorAcknowledgement(mechanism) + "\r\n");
        smtpReadReply(dialogue);  // the final refusal
    } else {
        words = dialogue.replyLine.substr(0, dialogue.replyLine.find_first_of("\r\n"));
    }
    words = withoutSecret(words, dialogue.token);
    smtpFail(dialogue, "the server refused the OAuth2 token: %s", words.c_str());
    return 0;
}

int smtpAuthPlain(SmtpDialogue& dialogue) {
    const MailerSettings& settings = dialogue.context.settings;
    std::string credentials(1, '\0');
    credentials.append(settings.smtpUser.str()).append(1, '\0').append(settings.smtpPassword.str());
    Base64Coder coder;
    coder.encode(reinterpret_cast<const unsigned char*>(credentials.data()), credentials.size());
    const std::string verb = "AUTH PLAIN ";
    std::string command = verb;
    command.append(coder.encodedData(), coder.encodedLength()).append("\r\n");
    sendSecret(dialogue, command, verb.size());
    if (smtpReadReply(dialogue) != 235) {
        smtpFail(dialogue, "Bad authentication response from mail server");
        return 0;
    }
    dialogue.mechanism = "PLAIN";
    return 1;
}

int smtpAuthLogin(SmtpDialogue& dialogue) {
    const MailerSettings& settings = dialogue.context.settings;
    sendCommand(dialogue, "AUTH LOGIN\r\n");
    int code;
    do {
        code = smtpReadReply(dialogue);  // what is left of the EHLO answer
    } while (code == 250);
    bool ok = code == 334 && promptIs(dialogue, "Username:");
    dialogue.mechanism = "LOGIN";
    if (ok) {
        sendCommand(dialogue, encodedLine(settings.smtpUser.str()));
        ok = smtpReadReply(dialogue) == 334 && promptIs(dialogue, "Password:");
    }
    if (ok) {
        sendSecret(dialogue, encodedLine(settings.smtpPassword.str()), 0);
        ok = smtpReadReply(dialogue) == 235;
    }
    if (!ok) {
        smtpFail(dialogue, "Bad authentication response from mail server");
        return 0;
    }
    return 1;
}

int smtpOpen(SmtpDialogue& dialogue) {
    const MailerSettings& settings = dialogue.context.settings;
    std::string localHost;
    dialogue.password = settings.smtpPassword.str();
    const bool login = settings.smtpAuth || smtpUsesOAuth2(settings);
    if (!smtpConnect(dialogue, localHost))
        return 0;
    if (smtpReadReply(dialogue) != 220) {
        smtpFail(dialogue, "SMTP server error");
        return 0;
    }
    if (dialogue.tls == TlsMode::kPlain) {
        int code;
        if (login) {
            code = smtpEhlo(dialogue, localHost);
        } else {
            sendCommand(dialogue, formatCommand("HELO %s\r\n", localHost));
            code = smtpReadReply(dialogue);
        }
        if (code != 250) {
            smtpFail(dialogue, "SMTP server error");
            return 0;
        }
        if (login && !smtpUsesOAuth2(settings) && !smtpOffersLogin(dialogue)) {
            // No password goes to a server that asked for none: it would say 503 at best. Its
            // EHLO answer is no refusal to show.
            dialogue.replyLine.clear();
            if (smtpOffers(dialogue, "STARTTLS"))
                smtpFail(dialogue, "SMTP server %s offers no login before STARTTLS: %s",
                         dialogue.host.c_str(),
                         startTlsForm(kSmtpServerForms, dialogue.server).c_str());
            else
                smtpFail(dialogue, "SMTP server %s offers no login (AUTH): no password sent",
                         dialogue.host.c_str());
            dialogue.failure = SendFailure::kStationSide;
            return 0;
        }
    } else if (!smtpGreetSecurely(dialogue, localHost)) {
        return 0;
    }
    if (login && !smtpAuthenticate(dialogue))
        return 0;
    return 1;
}

int smtpEnvelope(SmtpDialogue& dialogue, const MailJob& job, const std::string& recipients) {
    std::string from = job.from.str();
    std::size_t open = from.find('<');
    if (open == std::string::npos) {
        setMailError(dialogue.error, "From Email Address - No < Found");
        return 0;
    }
    std::size_t close = from.find('>', open + 1);
    if (close == std::string::npos) {
        setMailError(dialogue.error, "From Email Address - No > Found");
        return 0;
    }
    std::string sender = from.substr(open + 1, close - open - 1);
    for (char c : sender) {
        // A line end in the address would end the MAIL command and start another.
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            setMailError(dialogue.error, "From Email Address - Bad Character");
            return 0;
        }
    }

    if (!smtpOpen(dialogue))
        return 0;
    sendCommand(dialogue, formatCommand("MAIL From:<%s>\r\n", sender));
    if (smtpReadReply(dialogue) != 250) {
        smtpFail(dialogue, "SMTP Error, server does not like From: field.");
        return 0;
    }
    dialogue.atRecipients = true;
    if (!sendRecipients(dialogue, recipients))
        return 0;
    sendCommand(dialogue, "DATA\r\n");
    if (smtpReadReply(dialogue) != 354) {
        smtpFail(dialogue, "Mail server error accepting message data");
        return 0;
    }
    return 1;
}

int smtpSendText(SmtpDialogue& dialogue, const std::string& text) {
    connection* conn = dialogue.conn;
    const char* data = text.data();
    const std::size_t n = text.size();
    std::size_t runStart = 0;  // bytes from here on go out unchanged
    // The text's first line starts a line too: a lone "." there would end the data.
    if (n > 0 && data[0] == '.' && gensock_put_buffered(conn, ".", 1) != 0)
        return 0;
    for (std::size_t at = findStuffingPair(data, 0, n); at < n;
         at = findStuffingPair(data, at + 1, n)) {
        std::size_t second = at + 1;  // the byte that is dropped or doubled
        if (gensock_put_buffered(conn, data + runStart, second - runStart) != 0)
            return 0;
        if (data[second] == '\r') {
            runStart = second + 1;
        } else {
            if (gensock_put_buffered(conn, ".", 1) != 0)
                return 0;
            runStart = second;  // the full stop itself goes out with the next run
        }
    }
    const char* end = n > 0 && data[n - 1] == '\n' ? ".\r\n" : "\r\n.\r\n";
    if (gensock_put_buffered(conn, data + runStart, n - runStart) != 0 ||
        gensock_put_buffered(conn, end, std::char_traits<char>::length(end)) != 0 ||
        gensock_flush(conn) != 0)
        return 0;
    return 1;
}

namespace {

int deliver(SmtpDialogue& dialogue, const MailJob& job, const std::string& text) {
    std::string recipients = buildRecipientList(job.to.str());
    if (!smtpEnvelope(dialogue, job, recipients))
        return 0;
    if (!smtpSendText(dialogue, text)) {
        releaseConnection(dialogue);
        return 0;
    }
    if (smtpReadReply(dialogue) != 250) {
        smtpFail(dialogue, "Message not accepted by SMTP server");
        return 0;
    }
    quitAndRelease(dialogue);
    return 1;
}

// Runs the dialogue; with an OAuth2 login, takes the access token first, and once more anew
// when the server refused it (a second dialogue then).
template <typename Run>
int withToken(MailContext& context, std::string& error, SendFailure* failure,
              std::string* mechanism, Run run) {
    const bool oauth = smtpUsesOAuth2(context.settings);
    if (failure)
        *failure = SendFailure::kTryAgain;
    for (bool fresh : {false, true}) {
        error.clear();
        SmtpDialogue dialogue(context, error);
        if (oauth && !context.tokens) {
            setMailError(error, "OAuth2 login asked for, but no token source is set up");
            return 0;
        }
        if (oauth &&
            !context.tokens->accessToken(MailAccount::kSmtp, fresh, dialogue.token, error)) {
            context.log.logMsg(true, "SMTP Error: %s", error.c_str());
            return 0;
        }
        int result = run(dialogue);
        if (failure)
            *failure = dialogue.failure;
        if (mechanism)
            *mechanism = dialogue.mechanism;
        if (result || !dialogue.tokenRefused || fresh)
            return result;
    }
    return 0;
}

}  // namespace

int SendMimeMsg(MailContext& context, const MailJob& job, const std::string& text,
                std::string& error, SendFailure* failure) {
    return withToken(context, error, failure, nullptr,
                     [&](SmtpDialogue& dialogue) { return deliver(dialogue, job, text); });
}

int smtpCheckLogin(MailContext& context, std::string& error, std::string* mechanism) {
    return withToken(context, error, nullptr, mechanism, [&error](SmtpDialogue& dialogue) {
        if (!smtpOpen(dialogue))
            return 0;
        sendCommand(dialogue, "QUIT\r\n");
        int code = smtpReadReply(dialogue);
        releaseConnection(dialogue);
        if (code != 221) {
            setMailError(error, "QUIT answered with %d instead of 221", code);
            return 0;
        }
        return 1;
    });
}
