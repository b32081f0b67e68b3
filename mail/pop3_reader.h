#pragma once

#include <string>
#include <vector>

#include "mail/collected_line.h"
#include "mail/line_keeper.h"
#include "mail/mail_context.h"

// Runs one POP3 dialogue with the mailbox of the settings (popServer, "host" or "host:port",
// port 110 by default; popUser; popPassword): logs in, retrieves every waiting message,
// keeps the request lines of each message (lower-cased, in the order received), deletes
// every message once read to its end, and ends with QUIT.
//
// A mail without a MIME-Version header gives each of its lines that begins
// "eventfilerequest=" or "stationinfo=", in any letter case. A MIME mail gives the request
// lines of its readable text (see readMail). An automatic mail (a bounce, an auto-reply)
// gives none: "Automatic mail from %s not answered" is logged. Each line carries the mail's
// sender and Message-ID.
//
// Returns 1 when every message was read and deleted. Returns 0 on failure with the reason
// in error ("POP Connect Error", "User Login Password Error", "POP Get Char Error", ...);
// lines then keeps what was collected before the failure. Both are emptied first. After a
// failure in the transaction state QUIT is still sent, so the messages already deleted are
// gone; a failed login closes the connection without QUIT. Failures while reading messages
// are also logged (to the file too). Every byte sent is added to ctx.statistics.bytesSent.
//
// With PopAuthMethod=oauth2 the login is SASL OAUTHBEARER or XOAUTH2 (whichever CAPA offers,
// OAUTHBEARER first) with an access token from ctx.tokens instead of USER and PASS; a token the
// server refuses is fetched anew and tried once more on a new connection. Failures: the token
// source's own text, "the server refused the OAuth2 token: <its decoded words>", "POP server
// HOST offers no OAuth2 login (SASL OAUTHBEARER or XOAUTH2)".
//
// The server setting may ask for TLS: "pop3s://host[:port]" (port 995) from the first byte,
// "pop3+starttls://host[:port]" (port 110) with STLS after the greeting, required. A
// certificate that is not trusted or does not name the host, or a server that does not offer
// STLS, ends the dialogue before the user name is sent. When the server refused a step (the
// greeting, the login, STLS, STAT, RETR, DELE) with a reply of its own, serverSaid (if given)
// receives that reply. A plain or STLS setting for a server that speaks TLS from the first byte
// ends after 5 s of silence with the form to use (see tlsFirstHint).
//
// With a keeper, the lines collected are handed to it before QUIT lets the server delete
// their messages; when it cannot keep them, the session ends without QUIT, lines is emptied
// and the result is 0 with "Spool Error: ..." in error.
//
// A mail read to its end that gives no request line is logged "Mail from %s: no request lines"
// (list only). One that held a request key all the same (see readMail's unservedKey) is logged
// "Mail from %s: no request line served: <where>" (list and file) and gives one line of its own,
// kUnservedMailMark and the reason, so its sender is told. mailsRead (if given) receives how
// many mails were read to their end.
int readMailbox(MailContext& ctx, std::vector<CollectedLine>& lines, std::string& error,
                std::string* serverSaid = nullptr, LineKeeper* keeper = nullptr,
                int* mailsRead = nullptr);

// The same, keeping only the text of each line.
int readMailbox(MailContext& ctx, std::vector<std::string>& lines, std::string& error);

// Tries the login of readMailbox and asks with STAT how many messages wait, without
// retrieving or deleting any: the dialogue ends with QUIT. Returns 1 with the count in
// messages and the login's mechanism ("USER/PASS", "OAUTHBEARER", "XOAUTH2") in mechanism (if
// given); 0 with the reason in error, as readMailbox gives it (and the server's own words on
// a refused login in serverSaid, if given).
int checkMailbox(MailContext& ctx, int& messages, std::string& error,
                 std::string* serverSaid = nullptr, std::string* mechanism = nullptr);
