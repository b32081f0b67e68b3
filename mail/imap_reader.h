#pragma once

#include <string>
#include <vector>

#include "mail/collected_line.h"
#include "mail/line_keeper.h"
#include "mail/mail_context.h"

struct MailerSettings;

// The folder handled mails are moved to: ImapDoneFolder, "Tarnwick/Done" when the key is not
// set; "" when it is set with no folder (each handled mail is then deleted).
std::string imapDoneFolder(const MailerSettings& settings);

// Runs one IMAP check of the mailbox the POP server setting names ("imaps://host/folder", see
// parseImapSetting), with the POP account: logs in, selects the folder, fetches every message
// not marked deleted whole (BODY.PEEK[], so nothing is marked read), reads each like a mail
// retrieved by POP3 (see readMailbox), keeps the request lines with the keeper, and only then
// moves each mail read to its end out of the folder: to the done folder (imapDoneFolder, created
// when missing, its "/" written with the server's hierarchy separator) with UID MOVE where the
// server offers it, else UID COPY, \Deleted and UID EXPUNGE (EXPUNGE without UIDPLUS); or
// deletes it when there is no done folder. Ends with LOGOUT.
//
// Each line's mail key begins "imap FOLDER UIDVALIDITY/UID " (see imapKeyPrefix): a mail whose
// lines were kept by a run that stopped before moving it is moved without being fetched or
// served again; after the folder's UIDVALIDITY changed such a mail is known by its Message-ID,
// size and digest instead. When every mail of the folder was moved, the keeper learns that
// the mailbox committed (LineKeeper::mailboxCommitted).
//
// Returns 1 when every message was read and moved; 0 on failure with the reason in error
// ("IMAP Connect Error: HOST (4017)", "User Login Password Error", "IMAP folder F cannot be
// selected: ...", "IMAP Get Char Error", ...), lines then holding what was kept before it. When
// the lines cannot be kept, no mail is moved, lines is emptied and error says "Spool Error: ...".
// serverSaid (if given) receives the server's words on a refused login; mailsRead how many
// mails were read to their end.
int readImapMailbox(MailContext& ctx, std::vector<CollectedLine>& lines, std::string& error,
                    std::string* serverSaid = nullptr, LineKeeper* keeper = nullptr,
                    int* mailsRead = nullptr);

// Logs in as readImapMailbox does, looks at the folder read-only (EXAMINE) and at the done
// folder (STATUS), and logs out; no mail is fetched, moved or marked. Returns 1 with the
// folder's message count in messages, the login's mechanism ("LOGIN", "AUTHENTICATE PLAIN",
// "OAUTHBEARER", "XOAUTH2") and what was seen of the done folder and of IDLE in notes (if
// given); 0 with the reason in error (and the server's words in serverSaid).
int checkImapMailbox(MailContext& ctx, int& messages, std::string& error,
                     std::string* serverSaid = nullptr, std::string* mechanism = nullptr,
                     std::string* notes = nullptr);
