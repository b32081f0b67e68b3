#pragma once

#include <string>
#include <string_view>

// Where a line of a mail's text stands: the sender's own words, a quoted line ("> "), or the
// history a reply carries below the new text.
enum class LinePlace { kText, kQuoted, kHistory };

// Follows the text of one part line by line and tells the history of a reply from the new text.
// A reply's history begins at the separators that clients write above the mail they answer:
//   - Outlook's header block, a "From:" line followed by "Sent:" (or "Date:"), in English,
//     German, French, Spanish, Italian, Dutch, Portuguese and the Scandinavian languages, also
//     after Outlook's rule of underscores;
//   - "-----Original Message-----" and its translations;
//   - an attribution, "On ... wrote:" and its translations (Gmail may wrap it over two lines).
// Below the first two everything is history. Below an attribution the quoted lines and blank
// lines are, and, when the client did not quote, everything; an unquoted line after quoted ones
// is the sender's answer in between (as mutt and Thunderbird users write) and text again.
// A forward is read whole: once its subject or a forward marker ("---------- Forwarded message
// ---------", "Begin forwarded message:", "-------- Forwarded Message --------", "----- Forwarded
// message from ... -----") says so, separators are text. Quoted lines are kQuoted in either.
class QuotedHistory {
  public:
    explicit QuotedHistory(bool forward) : forward_(forward) {}

    LinePlace place(std::string_view line);

    // Whether the text is a forward: its subject said so or a forward marker was seen.
    bool forward() const { return forward_; }

  private:
    bool forward_;
    bool inHistory_ = false;         // below a separator: everything to the end
    bool afterAttribution_ = false;  // below "On ... wrote:"
    bool quotedSeen_ = false;        // a quoted line came after the attribution
    bool fromLine_ = false;          // the last line with words was Outlook's "From:"
    std::string lastLine_;           // the last line with words, trimmed and lower-cased
};

// True for the subject of a forward: "Fwd:", "FW:" and their translations ("WG:", "TR:", "RV:")
// as the first word. "Re: Fwd: ..." answers a forward and is a reply.
bool isForwardSubject(std::string_view subject);
