#pragma once

#include <string>

#include <vector>

#include "mail/connection.h"
#include "mail/mail_context.h"
#include "mail/mail_job.h"
#include "mail/send_failure.h"
#include "mail/server_address.h"

// The SMTP side of the robot: one dialogue per message, on a connection to the smtpServer of
// the settings in force (port 25 unless it carries ":port"), greeting with HELO, or with EHLO
// and AUTH LOGIN when smtpAuth is set, as smtpUser with smtpPassword (or with an OAuth2 token
// when SmtpAuthMethod is oauth2). Every step accepts exactly one reply code. Passwords and
// tokens go to the server only; no log entry or error text holds one.

// One SMTP dialogue: the connection it owns, the caller's error text and the last reply line.
struct SmtpDialogue {
    static constexpr std::size_t maxReplyChars = 1023;

    SmtpDialogue(MailContext& mailContext, std::string& errorText);

    MailContext& context;
    std::string& error;
    ConnectionContext connectionContext;
    connection* conn = nullptr;     // open from smtpConnect to the one release
    std::string replyLine;          // with its line end; longer lines are cut to maxReplyChars
    TlsMode tls = TlsMode::kPlain;  // how the server is reached (smtpConnect)
    std::string host;               // the server's host name or address
    ServerAddress server;           // as the setting names it (smtpConnect)
    std::vector<std::string> extensions;  // the keywords of the last EHLO reply, upper case
    std::string password;                 // never shown: masked in what the server said
    std::string token;                    // the OAuth2 access token; never shown either
    std::string mechanism;                // how the login succeeded: LOGIN, PLAIN, XOAUTH2...
    bool atRecipients = false;            // the sender was taken: refusals now concern the mail
    SendFailure failure = SendFailure::kTryAgain;  // why the dialogue failed, once it has
    bool tokenRefused = false;                     // the server refused the OAuth2 token
};

// Delivers the finished message text of job. Returns 1 when the server accepted it (250 after
// the data) and QUIT went out; 0 otherwise, with the reason in error. The connection is
// released exactly once either way. With SmtpAuthMethod=oauth2 the access token comes from
// context.tokens first (a failure there is logged "SMTP Error: %s" and nothing is connected);
// a token the server refused is fetched anew and the dialogue run once more.
// failure (if given) tells what a failure means for the reply (see SendFailure).
int SendMimeMsg(MailContext& context, const MailJob& job, const std::string& text,
                std::string& error, SendFailure* failure = nullptr);

// The recipient list of a To text: blanks dropped, "(comments)" and 'quoted text' dropped,
// every other character kept. At most 511 characters.
std::string buildRecipientList(const std::string& to);

// Opens the connection to the settings' smtpServer and reads the local host name into localHost.
// An "smtps://" server is spoken to through TLS from the first byte. Returns 1; or 0 with
// "Can't connect to %s" (nothing opened), "Can't get local host name" or the TLS failure (the
// connection released) in the error text. Logs nothing.
int smtpConnect(SmtpDialogue& dialogue, std::string& localHost);

// Reads one reply, following continuation lines (fourth character "-") to the last line,
// which is left in replyLine. Returns the number at the start of that line (0 when there is
// none), or 1 when a read failed.
int smtpReadReply(SmtpDialogue& dialogue);

// Connects, reads the greeting, greets (HELO, or EHLO when a login is asked for; over TLS as
// smtpGreetSecurely does) and logs in when smtpAuth is set. Returns 1 ready for MAIL; 0 after
// smtpFail or with the connect or TLS failure in the error text.
int smtpOpen(SmtpDialogue& dialogue);

// Checks the sender address, connects, greets, authenticates when asked, and announces the
// sender, every recipient of the list and DATA. With TLS ("smtps://", "smtp+starttls://") the
// greeting is EHLO (HELO only when it is refused and no login is asked for); an
// "smtp+starttls://" server must offer STARTTLS, and EHLO is sent again over TLS. The login is
// AUTH LOGIN, or AUTH PLAIN when the server offers PLAIN but not LOGIN. Returns 1 ready for the
// message text; 0 with the error text set and the connection, if one was opened, released.
int smtpEnvelope(SmtpDialogue& dialogue, const MailJob& job, const std::string& recipients);

// Sends EHLO and reads its reply, keeping the keywords of its lines in extensions. Returns the
// reply's code, or 1 when a read failed.
int smtpEhlo(SmtpDialogue& dialogue, const std::string& localHost);

// True when the last EHLO reply named the keyword ("STARTTLS"), or, for "AUTH X", offered
// the mechanism X.
bool smtpOffers(const SmtpDialogue& dialogue, const std::string& keyword);
// Whether the last EHLO answer offers a login of any kind (an AUTH line).
bool smtpOffersLogin(const SmtpDialogue& dialogue);

// The greeting of a TLS dialogue, after the 220: EHLO (HELO only when EHLO is refused on an
// "smtps://" server and no login is asked for); for "smtp+starttls://" STARTTLS, required,
// the handshake and EHLO again. Returns 1; or 0 after smtpFail or the TLS failure.
int smtpGreetSecurely(SmtpDialogue& dialogue, const std::string& localHost);

// Logs in: with SmtpAuthMethod=oauth2 as smtpAuthOAuth2 does; else AUTH PLAIN on a TLS
// dialogue whose server offers PLAIN but not LOGIN, else AUTH LOGIN.
int smtpAuthenticate(SmtpDialogue& dialogue);

// AUTH OAUTHBEARER, or XOAUTH2 when EHLO offers only that, with the dialogue's token and the
// first response on the command line. Returns 1 on 235; 0 after smtpFail: "SMTP server %s
// offers no OAuth2 login (AUTH OAUTHBEARER or XOAUTH2)", or "the server refused the OAuth2
// token: %s" with the server's decoded words (its challenge answered with the empty response;
// tokenRefused set).
int smtpAuthOAuth2(SmtpDialogue& dialogue);

// AUTH PLAIN with the settings' user name and password in one line. Returns 1 on 235; 0 after
// smtpFail "Bad authentication response from mail server".
int smtpAuthPlain(SmtpDialogue& dialogue);

// AUTH LOGIN with the settings' user name and password after a 250 to EHLO. Returns 1 on 235; 0
// after smtpFail "Bad authentication response from mail server".
int smtpAuthLogin(SmtpDialogue& dialogue);

// Ends a dialogue on a wrong reply: the formatted message (cut to 255 characters) becomes the
// error text and the entry "SMTP Error: %s" goes to the list and the file; with TLS the
// server's own reply follows as "SMTP server said: %s". Then "QUIT" is sent without waiting
// for its reply and the connection is released.
void smtpFail(SmtpDialogue& dialogue, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Sends the message text through the buffered write: a CR right after a CR is dropped, a "."
// at the start of a line (the text's first line too) is doubled, and the data ends with
// ".\r\n" after a final line feed, "\r\n.\r\n" otherwise. Returns 1 when everything was
// flushed, 0 on a failed write.
int smtpSendText(SmtpDialogue& dialogue, const std::string& text);

// Tries the settings' server and login without sending a message: connects, greets as a delivery
// does (HELO, or EHLO when a login is asked for or TLS is used), logs in when smtpAuth is set,
// then sends QUIT and waits for its 221. Returns 1; or 0 with the reason in error, a refusal
// logged as in a delivery. The connection is released either way.
// The mechanism of a login that succeeded goes into mechanism (if given; "" without a login).
int smtpCheckLogin(MailContext& context, std::string& error, std::string* mechanism = nullptr);
