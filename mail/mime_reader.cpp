#include "mail/mime_reader.h"

#include <gmime/gmime.h>

#include <memory>

#include "mail/automatic_mail.h"
#include "mail/flowed_text.h"
#include "mail/html_text.h"
#include "mail/quoted_history.h"
#include "mail/parse_limits.h"
#include "mail/request_key.h"
#include "mail/smime_content.h"
#include "mail/tnef_text.h"
#include "settings/text_routines.h"

namespace {

// Bounds on the walk over a mail's parts: nesting and the number of parts looked at.
constexpr int kMaxDepth = 16;
constexpr int kMaxParts = 256;
// A Message-ID or address longer than this is not used.
constexpr std::size_t kMaxHeaderWord = 200;

void initGMime() {
    static const bool done = [] {
        g_mime_init();
        return true;
    }();
    (void)done;
}

struct GObjectUnref {
    void operator()(void* object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GFree {
    void operator()(void* memory) const { g_free(memory); }
};
using GText = std::unique_ptr<char, GFree>;

std::string_view headerOf(GMimeObject* object, const char* name) {
    const char* value = g_mime_object_get_header(object, name);
    return value ? std::string_view(value) : std::string_view();
}

// A word that may go into a header line of a reply: printable ASCII, no blanks, no brackets.
bool isHeaderWord(std::string_view word) {
    if (word.empty() || word.size() > kMaxHeaderWord)
        return false;
    for (char c : word)
        if (c <= ' ' || c > '~' || c == '<' || c == '>' || c == ',' || c == ';' || c == '"')
            return false;
    return true;
}

// The first usable mailbox address of the list, or "".
std::string firstAddress(InternetAddressList* list) {
    int count = list ? internet_address_list_length(list) : 0;
    for (int i = 0; i < count; ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        if (!INTERNET_ADDRESS_IS_MAILBOX(address))
            continue;
        const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
        if (addr && isHeaderWord(addr))
            return addr;
    }
    return {};
}

std::string mimeTypeOf(GMimeObject* part) {
    GMimeContentType* type = g_mime_object_get_content_type(part);
    if (!type)
        return {};
    GText text(g_mime_content_type_get_mime_type(type));
    return text ? std::string(text.get()) : std::string();
}

bool isAttachment(GMimeObject* part) {
    GMimeContentDisposition* disposition = g_mime_object_get_content_disposition(part);
    return disposition && g_mime_content_disposition_is_attachment(disposition);
}

bool isTextOf(GMimeObject* part, const char* subtype) {
    return GMIME_IS_TEXT_PART(part) && !isAttachment(part) &&
           g_mime_content_type_is_type(g_mime_object_get_content_type(part), "text", subtype);
}

bool parameterIs(GMimeObject* part, const char* name, const char* value) {
    const char* found =
        g_mime_content_type_get_parameter(g_mime_object_get_content_type(part), name);
    return found && g_ascii_strcasecmp(found, value) == 0;
}

// The bytes of a part's content, its transfer encoding undone.
std::string decodedBytes(GMimeObject* part) {
    GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(part));
    if (!content)
        return {};
    GObjectPtr<GMimeStream> out(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, out.get());
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
    return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

bool isPkcs7Mime(GMimeObject* part) {
    GMimeContentType* type = g_mime_object_get_content_type(part);
    return GMIME_IS_PART(part) &&
           (g_mime_content_type_is_type(type, "application", "pkcs7-mime") ||
            g_mime_content_type_is_type(type, "application", "x-pkcs7-mime"));
}

bool isSignedData(GMimeObject* part) {
    return isPkcs7Mime(part) && parameterIs(part, "smime-type", "signed-data");
}

// Outlook's TNEF part, by its type or by the name Outlook gives it.
bool isTnef(GMimeObject* part) {
    if (!GMIME_IS_PART(part))
        return false;
    GMimeContentType* type = g_mime_object_get_content_type(part);
    const char* name = g_mime_part_get_filename(GMIME_PART(part));
    return g_mime_content_type_is_type(type, "application", "ms-tnef") ||
           g_mime_content_type_is_type(type, "application", "vnd.ms-tnef") ||
           (name && g_ascii_strcasecmp(name, "winmail.dat") == 0);
}

// An encrypted S/MIME or OpenPGP body: nothing of it can be read without the key.
bool isEncrypted(GMimeObject* part) {
    GMimeContentType* type = g_mime_object_get_content_type(part);
    return g_mime_content_type_is_type(type, "application", "pgp-encrypted") ||
           (isPkcs7Mime(part) && !isSignedData(part));
}

// What the text under one part gives: its request lines, how many of them are whole, and the
// first place of a request key that gave no line.
struct TextYield {
    std::vector<std::string> lines;
    int wholeLines = 0;
    UnservedKey unserved = UnservedKey::kNone;
    bool readText = false;  // a text/plain or text/html part was read

    void note(UnservedKey place) {
        if (unserved == UnservedKey::kNone)
            unserved = place;
    }
    void add(TextYield&& other) {
        for (std::string& line : other.lines) lines.push_back(std::move(line));
        wholeLines += other.wholeLines;
        note(other.unserved);
        readText = readText || other.readText;
    }
};

// Takes the request lines of one text, line by line, past the history of a reply.
void addTextLines(std::string_view text, bool forward, TextYield& yield) {
    yield.readText = true;
    QuotedHistory history(forward);
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view raw = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        LinePlace place = history.place(raw);
        if (place == LinePlace::kHistory)
            continue;
        std::string line = place == LinePlace::kText ? requestLineOf(raw) : std::string();
        if (!line.empty()) {
            yield.wholeLines += isWholeRequestLine(line) ? 1 : 0;
            yield.lines.push_back(std::move(line));
        } else if (mentionsRequestKey(raw)) {
            // A reply's quoted lines are its history; a forward's are what it forwards.
            if (place == LinePlace::kText)
                yield.note(UnservedKey::kInText);
            else if (history.forward())
                yield.note(UnservedKey::kInQuote);
        }
    }
}

// Collects the request lines of the readable text parts under one part.
class TextWalk {
  public:
    // forward: the mail is a forward, so a separator in its text does not begin history.
    explicit TextWalk(bool forward) : forward_(forward) {}

    // The limit that cut an HTML part short; "" when none did.
    const std::string& cut() const { return cut_; }

    void walk(GMimeObject* part, int depth, TextYield& yield) {
        if (!part || depth > kMaxDepth || ++parts_ > kMaxParts)
            return;
        if (GMIME_IS_MESSAGE_PART(part)) {
            walkMessage(GMIME_MESSAGE_PART(part), depth, yield);
        } else if (GMIME_IS_MULTIPART_ENCRYPTED(part)) {
            yield.note(UnservedKey::kUnreadable);
        } else if (GMIME_IS_MULTIPART(part)) {
            walkMultipart(GMIME_MULTIPART(part), depth, yield);
        } else if (isTextOf(part, "plain")) {
            readPlain(part, yield);
        } else if (isTextOf(part, "html")) {
            readHtml(part, yield);
        } else if (GMIME_IS_TEXT_PART(part) && isAttachment(part)) {
            if (mentionsRequestKey(decodedText(part)))
                yield.note(UnservedKey::kInAttachment);
        } else if (isSignedData(part)) {
            readSignedData(part, depth, yield);
        } else if (isTnef(part)) {
            readTnef(part, yield);
        } else if (isEncrypted(part)) {
            yield.note(UnservedKey::kUnreadable);
        }
    }

  private:
    // A forwarded mail is read whole, separators and all.
    void walkMessage(GMimeMessagePart* part, int depth, TextYield& yield) {
        GMimeMessage* inner = g_mime_message_part_get_message(part);
        if (!inner)
            return;
        bool outer = forward_;
        forward_ = true;
        walk(g_mime_message_get_mime_part(inner), depth + 1, yield);
        forward_ = outer;
    }

    void walkMultipart(GMimeMultipart* multipart, int depth, TextYield& yield) {
        int count = g_mime_multipart_get_count(multipart);
        GMimeContentType* type = g_mime_object_get_content_type(GMIME_OBJECT(multipart));
        if (g_mime_content_type_is_type(type, "multipart", "alternative")) {
            yield.add(betterCopy(multipart, count, depth));
            return;
        }
        for (int i = 0; i < count; ++i)
            walk(g_mime_multipart_get_part(multipart, i), depth + 1, yield);
    }

    // Reads the text copy and the HTML copy (or, without one, the first alternative that
    // holds parts of its own: an HTML page with its pictures) and keeps the one with more whole
    // request lines; the text copy on a tie.
    TextYield betterCopy(GMimeMultipart* multipart, int count, int depth) {
        GMimeObject* plain = nullptr;
        GMimeObject* rich = nullptr;
        for (int i = 0; i < count; ++i) {
            GMimeObject* part = g_mime_multipart_get_part(multipart, i);
            if (!plain && isTextOf(part, "plain"))
                plain = part;
            else if (!rich && isTextOf(part, "html"))
                rich = part;
        }
        for (int i = 0; i < count && !rich; ++i) {
            GMimeObject* part = g_mime_multipart_get_part(multipart, i);
            if (GMIME_IS_MULTIPART(part))
                rich = part;
        }
        TextYield text, html;
        walk(plain, depth + 1, text);
        walk(rich, depth + 1, html);
        if (!plain || html.wholeLines > text.wholeLines)
            return html;
        return text;
    }

    static std::string decodedText(GMimeObject* part) {
        GText text(g_mime_text_part_get_text(GMIME_TEXT_PART(part)));
        return text ? std::string(text.get()) : std::string();
    }

    void readPlain(GMimeObject* part, TextYield& yield) {
        std::string text = decodedText(part);
        if (parameterIs(part, "format", "flowed"))
            text = unflowText(text, parameterIs(part, "delsp", "yes"));
        addTextLines(text, forward_, yield);
    }

    void readHtml(GMimeObject* part, TextYield& yield) {
        addTextLines(htmlToText(decodedText(part), &cut_), forward_, yield);
    }

    // The MIME entity inside an opaque signature is read as a part of the mail.
    void readSignedData(GMimeObject* part, int depth, TextYield& yield) {
        std::string content;
        if (!signedDataContent(decodedBytes(part), content)) {
            yield.note(UnservedKey::kUnreadable);
            return;
        }
        GObjectPtr<GMimeStream> stream(
            g_mime_stream_mem_new_with_buffer(content.data(), content.size()));
        GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
        GObjectPtr<GMimeObject> inner(g_mime_parser_construct_part(parser.get(), nullptr));
        walk(inner.get(), depth + 1, yield);
    }

    // Outlook's winmail.dat: its body text is read as the mail's text.
    void readTnef(GMimeObject* part, TextYield& yield) {
        std::string text;
        bool html = false;
        if (!tnefBodyText(decodedBytes(part), text, html)) {
            yield.note(UnservedKey::kUnreadable);
            return;
        }
        addTextLines(html ? htmlToText(text) : text, forward_, yield);
    }

    bool forward_;
    int parts_ = 0;
    std::string cut_;
};

// The lines of the mail that begin with a request key, as a mail without MIME is read.
std::vector<std::string> plainRequestLines(const MessageBuffer& buffer) {
    std::vector<std::string> lines;
    std::string_view text = buffer.view();
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (startsWithRequestKey(line))
            lines.push_back(toLowerAscii(std::string(line)));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return lines;
}

bool automaticMail(GMimeMessage* message, const std::string& from) {
    GMimeObject* object = GMIME_OBJECT(message);
    GMimeObject* body = g_mime_message_get_mime_part(message);
    std::string type = body ? mimeTypeOf(body) : std::string();
    bool list = g_mime_object_get_header(object, "List-Id") ||
                g_mime_object_get_header(object, "List-Post") ||
                g_mime_object_get_header(object, "List-Unsubscribe");
    AutomaticMailSigns signs{headerOf(object, "Auto-Submitted"),
                             headerOf(object, "Precedence"),
                             type,
                             from,
                             headerOf(object, "Return-Path"),
                             list};
    return isAutomaticMail(signs);
}

}  // namespace

// Lends the buffer's bytes to GLib for the time of a parse, without copying them, and takes
// them back.
class LentBytes {
  public:
    explicit LentBytes(const MessageBuffer& buffer)
        : array_(buffer.data() ? g_byte_array_new_take(reinterpret_cast<guint8*>(buffer.data()),
                                                       buffer.size())
                               : g_byte_array_new()),
          lent_(buffer.data() != nullptr) {}
    ~LentBytes() {
        gsize size = 0;
        if (lent_)
            g_byte_array_steal(array_, &size);
        g_byte_array_unref(array_);
    }
    LentBytes(const LentBytes&) = delete;
    LentBytes& operator=(const LentBytes&) = delete;
    GByteArray* get() const { return array_; }

  private:
    GByteArray* array_;
    bool lent_;
};

MailReading readMail(const MessageBuffer& buffer, bool asMime) {
    initGMime();
    MailReading reading;
    // The stream reads the buffer in place; the parser keeps parts as windows on it.
    LentBytes bytes(buffer);
    GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new());
    g_mime_stream_mem_set_byte_array(GMIME_STREAM_MEM(stream.get()), bytes.get());
    ReadableLength readable = readableMail(buffer.view(), asMime);
    g_mime_stream_set_bounds(stream.get(), 0, static_cast<gint64>(readable.length));
    reading.cut = readable.cut;
    GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    g_mime_parser_set_persist_stream(parser.get(), TRUE);
    GObjectPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!message) {
        if (asMime)
            reading.requestLines = plainRequestLines(buffer);
        return reading;
    }
    reading.from = firstAddress(g_mime_message_get_from(message.get()));
    reading.sender = firstAddress(g_mime_message_get_reply_to(message.get()));
    if (reading.sender.empty())
        reading.sender = reading.from;
    const char* id = g_mime_message_get_message_id(message.get());
    if (id && isHeaderWord(id))
        reading.messageId = id;
    reading.automatic = automaticMail(message.get(), reading.from);
    if (!asMime || reading.automatic)
        return reading;
    const char* subject = g_mime_message_get_subject(message.get());
    TextWalk walk(subject && isForwardSubject(subject));
    TextYield yield;
    walk.walk(g_mime_message_get_mime_part(message.get()), 0, yield);
    reading.unservedKey = yield.unserved;
    if (yield.readText)
        reading.requestLines = std::move(yield.lines);
    else
        reading.requestLines = plainRequestLines(buffer);
    if (reading.cut.empty())
        reading.cut = walk.cut();
    return reading;
}

bool prepareMailReading(std::string&) {
    initGMime();
    return true;
}
