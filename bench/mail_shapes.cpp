#include "bench/mail_shapes.h"

namespace {

void header(MessageBuffer& buffer, const char* type) {
    buffer.appendLine("From: eve@example.org");
    buffer.appendLine("Message-ID: <shape@example.org>");
    buffer.appendLine("MIME-Version: 1.0");
    buffer.appendLine(type);
    buffer.appendLine("");
}

}  // namespace

bool fillMailShape(const std::string& shape, std::size_t n, MessageBuffer& buffer) {
    buffer.clear();
    if (shape == "parts") {
        header(buffer, "Content-Type: multipart/mixed; boundary=b");
        for (std::size_t i = 0; i < n; ++i) {
            buffer.appendLine("--b");
            buffer.appendLine("");
            buffer.appendLine("x");
        }
        buffer.appendLine("--b--");
    } else if (shape == "headers") {
        for (std::size_t i = 0; i < n; ++i) buffer.appendLine("X-A: 1");
        header(buffer, "Content-Type: text/plain");
        buffer.appendLine("stationinfo=eve@example.org");
    } else if (shape == "html") {
        header(buffer, "Content-Type: text/html");
        std::string run;
        for (std::size_t i = 0; i < n; ++i) run += "<i>x</i>\n";
        buffer.appendLine(run);
    } else if (shape == "line") {
        header(buffer, "Content-Type: text/plain");
        std::string line(n, 'x');  // as the reader holds the line it reads
        buffer.appendLine(line);
    } else {
        return false;
    }
    return true;
}
