#include "mail/mime_reader.h"

#include <gmime/gmime.h>

#include <memory>

#include "mail/automatic_mail.h"
#include "mail/flowed_text.h"
#include "mail/html_text.h"
#include "mail/parse_limits.h"
#include "mail/request_key.h"
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

// Collects the request lines of the readable text parts under one part.
class TextWalk {
  public:
    explicit TextWalk(std::vector<std::string>& lines) : lines_(lines) {}

    // Whether a text/plain or text/html part was read.
    bool readText() const { return readText_; }
    // The limit that cut an HTML part short; "" when none did.
    const std::string& cut() const { return cut_; }

    void walk(GMimeObject* part, int depth) {
        if (!part || depth > kMaxDepth || ++parts_ > kMaxParts)
            return;
        if (GMIME_IS_MESSAGE_PART(part)) {
            GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(part));
            if (inner)
                walk(g_mime_message_get_mime_part(inner), depth + 1);
        } else if (GMIME_IS_MULTIPART(part)) {
            walkMultipart(GMIME_MULTIPART(part), depth);
        } else if (isTextOf(part, "plain")) {
            readPlain(part);
        } else if (isTextOf(part, "html")) {
            readHtml(part);
        }
    }

  private:
    void walkMultipart(GMimeMultipart* multipart, int depth) {
        int count = g_mime_multipart_get_count(multipart);
        GMimeContentType* type = g_mime_object_get_content_type(GMIME_OBJECT(multipart));
        if (g_mime_content_type_is_type(type, "multipart", "alternative")) {
            walk(chooseAlternative(multipart, count), depth + 1);
            return;
        }
        for (int i = 0; i < count; ++i) walk(g_mime_multipart_get_part(multipart, i), depth + 1);
    }

    // The text/plain alternative when there is one, else the HTML one, else the first one
    // that holds parts of its own (an HTML page with its pictures, say).
    static GMimeObject* chooseAlternative(GMimeMultipart* multipart, int count) {
        for (const char* subtype : {"plain", "html"}) {
            for (int i = 0; i < count; ++i) {
                GMimeObject* part = g_mime_multipart_get_part(multipart, i);
                if (isTextOf(part, subtype))
                    return part;
            }
        }
        for (int i = 0; i < count; ++i) {
            GMimeObject* part = g_mime_multipart_get_part(multipart, i);
            if (GMIME_IS_MULTIPART(part))
                return part;
        }
        return nullptr;
    }

    static std::string decodedText(GMimeObject* part) {
        GText text(g_mime_text_part_get_text(GMIME_TEXT_PART(part)));
        return text ? std::string(text.get()) : std::string();
    }

    void readPlain(GMimeObject* part) {
        std::string text = decodedText(part);
        if (parameterIs(part, "format", "flowed"))
            text = unflowText(text, parameterIs(part, "delsp", "yes"));
        addLines(text);
    }

    void readHtml(GMimeObject* part) { addLines(htmlToText(decodedText(part), &cut_)); }

    void addLines(std::string_view text) {
        readText_ = true;
        while (!text.empty()) {
            std::size_t end = text.find('\n');
            std::string line = requestLineOf(text.substr(0, end));
            if (!line.empty())
                lines_.push_back(std::move(line));
            text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        }
    }

    std::vector<std::string>& lines_;
    int parts_ = 0;
    bool readText_ = false;
    std::string cut_;
};

// The lines of the mail that begin with a request key, as a mail without MIME is read.
std::vector<std::string> plainRequestLines(const MessageBuffer& buffer) {
    std::vector<std::string> lines;
    std::string_view text(reinterpret_cast<const char*>(buffer.bytes()->data), buffer.size());
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
    AutomaticMailSigns signs{headerOf(object, "Auto-Submitted"), headerOf(object, "Precedence"),
                             type, from, headerOf(object, "Return-Path")};
    return isAutomaticMail(signs);
}

}  // namespace

MessageBuffer::MessageBuffer() : bytes_(g_byte_array_new()) {}

MessageBuffer::~MessageBuffer() {
    g_byte_array_unref(bytes_);
}

void MessageBuffer::appendLine(std::string_view line) {
    g_byte_array_append(bytes_, reinterpret_cast<const guint8*>(line.data()),
                        static_cast<guint>(line.size()));
    g_byte_array_append(bytes_, reinterpret_cast<const guint8*>("\n"), 1);
}

void MessageBuffer::clear() {
    g_byte_array_set_size(bytes_, 0);
}

std::size_t MessageBuffer::size() const {
    return bytes_->len;
}

MailReading readMail(const MessageBuffer& buffer, bool asMime) {
    initGMime();
    MailReading reading;
    // The stream reads the buffer in place; the parser keeps parts as windows on it.
    GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new());
    g_mime_stream_mem_set_byte_array(GMIME_STREAM_MEM(stream.get()), buffer.bytes());
    ReadableLength readable = readableMail(
        std::string_view(reinterpret_cast<const char*>(buffer.bytes()->data), buffer.size()), asMime);
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
    TextWalk walk(reading.requestLines);
    walk.walk(g_mime_message_get_mime_part(message.get()), 0);
    if (!walk.readText())
        reading.requestLines = plainRequestLines(buffer);
    if (reading.cut.empty())
        reading.cut = walk.cut();
    return reading;
}
