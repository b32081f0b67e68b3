#include "mail/html_text.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "mail/parse_limits.h"

namespace {

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

bool isNamed(const xmlNode* node, std::initializer_list<const char*> names) {
    const char* name = reinterpret_cast<const char*>(node->name);
    return std::any_of(names.begin(), names.end(),
                       [name](const char* n) { return std::strcmp(name, n) == 0; });
}

// Elements whose content a reader never sees.
bool isHidden(const xmlNode* element) {
    return isNamed(element, {"head", "title", "script", "style", "template"});
}

// Elements that stand on lines of their own.
bool isBlock(const xmlNode* element) {
    return isNamed(element,
                   {"p",       "div",      "li",      "tr",         "h1",         "h2",
                    "h3",      "h4",       "h5",      "h6",         "table",      "ul",
                    "ol",      "dl",       "dd",      "dt",         "blockquote", "pre",
                    "address", "section",  "article", "header",     "footer",     "nav",
                    "aside",   "main",     "figure",  "figcaption", "hr",         "center",
                    "form",    "fieldset", "legend",  "caption",    "details",    "summary"});
}

// Table cells: on their row's line, a blank after the one before.
bool isCell(const xmlNode* element) {
    return isNamed(element, {"td", "th"});
}

// A line feed that opens a <pre> is not shown.
bool startsPre(const xmlNode* text) {
    return text->prev == nullptr && text->parent != nullptr &&
           text->parent->type == XML_ELEMENT_NODE && isNamed(text->parent, {"pre"});
}

const char* afterFirstLineFeed(const char* text) {
    if (text[0] == '\r' && text[1] == '\n')
        return text + 2;
    if (text[0] == '\n' || text[0] == '\r')
        return text + 1;
    return text;
}

bool isCollapsible(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

// Gathers the text line by line.
class TextWriter {
  public:
    // Text outside <pre>: white space shows as one blank between words.
    void flowing(const char* text) {
        for (const char* p = text; *p != '\0'; ++p) {
            if (isCollapsible(*p)) {
                blankPending_ = !lineEmpty();
            } else {
                if (blankPending_)
                    out_ += ' ';
                blankPending_ = false;
                put(*p);
            }
        }
    }

    // Text inside <pre>: kept as written, line feeds end lines.
    void preformatted(const char* text) {
        blankPending_ = false;
        for (const char* p = text; *p != '\0'; ++p) {
            if (*p == '\r') {
                if (p[1] == '\n')
                    ++p;
                out_ += '\n';
            } else {
                put(*p);
            }
        }
    }

    // Ends the line, also an empty one (<br>).
    void lineBreak() {
        out_ += '\n';
        blankPending_ = false;
    }

    // Ends the line unless nothing stands on it yet (the edges of a block).
    void blockEdge() {
        if (!lineEmpty())
            lineBreak();
        blankPending_ = false;
    }

    // Puts a blank between what went before on the line and what follows.
    void separate() { blankPending_ = !lineEmpty(); }

    // Whether lines written from now on stand inside a <blockquote>.
    void setQuoted(bool quoted) { quoted_ = quoted; }

    std::string finish() {
        blockEdge();
        return std::move(out_);
    }

  private:
    bool lineEmpty() const { return out_.empty() || out_.back() == '\n'; }

    // A quoted line begins with "> ", as a client quotes plain text: once, however deep, so
    // the text never grows by more than the markup it stands for.
    void put(char c) {
        if (quoted_ && lineEmpty())
            out_ += "> ";
        out_ += c;
    }

    std::string out_;
    bool quoted_ = false;
    bool blankPending_ = false;
};

// The walk over the tree, without recursion (the parser's trees can be deep): down to the first
// child, on to the next sibling, back up by the parent links.
class Walk {
  public:
    std::string run(const xmlDoc* doc) {
        const xmlNode* node = doc->children;
        while (node != nullptr) {
            if (enter(node) && node->children != nullptr) {
                node = node->children;
                continue;
            }
            // Leave this node and every ancestor that has no next sibling.
            while (node != nullptr) {
                leave(node);
                if (node->next != nullptr) {
                    node = node->next;
                    break;
                }
                node = node->parent;  // at last the document, which has neither
            }
        }
        return writer_.finish();
    }

  private:
    // Writes what comes at the start of a node; true when its children are to be visited.
    bool enter(const xmlNode* node) {
        switch (node->type) {
            case XML_TEXT_NODE:
            case XML_CDATA_SECTION_NODE:
                if (node->content != nullptr) {
                    const char* text = reinterpret_cast<const char*>(node->content);
                    if (preDepth_ > 0)
                        writer_.preformatted(startsPre(node) ? afterFirstLineFeed(text) : text);
                    else
                        writer_.flowing(text);
                }
                return false;
            case XML_ELEMENT_NODE:
                if (isHidden(node))
                    return false;
                if (isNamed(node, {"br"}))
                    writer_.lineBreak();
                else if (isBlock(node))
                    writer_.blockEdge();
                else if (isCell(node))
                    writer_.separate();
                if (isNamed(node, {"pre"}))
                    ++preDepth_;
                if (isNamed(node, {"blockquote"}))
                    writer_.setQuoted(++quoteDepth_ > 0);
                return true;
            default:  // comments, processing instructions, the document type
                return false;
        }
    }

    // Writes what comes at the end of a node.
    void leave(const xmlNode* node) {
        if (node->type != XML_ELEMENT_NODE)
            return;
        if (isBlock(node))
            writer_.blockEdge();
        if (isNamed(node, {"pre"}))
            --preDepth_;
        if (isNamed(node, {"blockquote"}))
            writer_.setQuoted(--quoteDepth_ > 0);
    }

    TextWriter writer_;
    int preDepth_ = 0;
    int quoteDepth_ = 0;
};

}  // namespace

std::string htmlToText(std::string_view html, std::string* cut) {
    ReadableLength readable = readableHtml(html);
    html = html.substr(0, readable.length);
    if (cut && !readable.cut.empty())
        *cut = readable.cut;
    // The parser drops a form feed and may end the document at a NUL: both are blanks here.
    std::string withoutNul;
    if (html.find_first_of(std::string_view("\0\f", 2)) != std::string_view::npos) {
        withoutNul.assign(html);
        std::replace(withoutNul.begin(), withoutNul.end(), '\0', ' ');
        std::replace(withoutNul.begin(), withoutNul.end(), '\f', ' ');
        html = withoutNul;
    }
    int size = static_cast<int>(std::min<std::size_t>(html.size(), INT_MAX));
    DocPtr doc(htmlReadMemory(
        html.data(), size, nullptr, "UTF-8",
        HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET));
    if (doc == nullptr)
        return "";
    return Walk().run(doc.get());
}
