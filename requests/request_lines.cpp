#include "requests/request_lines.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "activity/activity_log.h"
#include "requests/item_scanner.h"
#include "requests/recorder_config.h"
#include "requests/recorder_exchange.h"
#include "requests/request_context.h"
#include "settings/mailer_settings.h"
#include "settings/text_routines.h"

namespace {

constexpr std::size_t kMaxChannelIdChars = 15;

// Length of the text without the line end the mail reader may have left on it.
std::size_t lineLength(const std::string& text) {
    std::size_t n = text.size();
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r')) --n;
    return n;
}

bool fitsLine(const std::string& text, const char* prefix) {
    return std::strlen(prefix) + lineLength(text) <= kMaxRequestLineChars;
}

void cutAtLineEnd(FixedText<256>& text) {
    std::string s = text.str();
    stripLineEnd(s);
    text = s;
}

// The non-empty pieces of the channel list, split at ',', line feed and carriage return.
std::vector<std::string> splitChannelList(std::string_view list) {
    std::vector<std::string> pieces;
    while (!list.empty()) {
        std::size_t end = list.find_first_of(",\n\r");
        std::string_view piece = list.substr(0, end);
        if (!piece.empty())
            pieces.emplace_back(piece);
        list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
    }
    return pieces;
}

bool piecesFitRecord(const std::vector<std::string>& pieces) {
    if (pieces.size() > static_cast<std::size_t>(EventFileRequest::maxChannels))
        return false;
    for (const std::string& piece : pieces)
        if (piece.size() > kMaxChannelIdChars)
            return false;
    return true;
}

// Whether the channel belongs to the system: it names one of its volumes, or it is one of its
// channels outside an enabled volume.
bool servedBy(const std::string& id, const RecorderSystem& system) {
    return isVolumeName(id, system) || isSystemChannel(id, system);
}

void appendToList(std::string& list, const std::string& id) {
    if (!list.empty())
        list += ',';
    list += id;
}

}  // namespace

ParseOutcome parseFileRequestLine(const std::string& text, EventFileRequest& request,
                                  ActivityLog& log) {
    request = EventFileRequest{};
    RequestItems items;
    // Words after the reply address mean the address ran into them (a signature glued on):
    // it is not the address the requester wrote.
    if (!fitsLine(text, kFileRequestPrefix) || scanRequestItems(text, items) < 9 ||
        items.wordsAfter) {
        log.logMsg(true, "Bad Request Line = %s", text.c_str());
        return ParseOutcome::kBadLine;
    }
    int* fields[] = {&request.month,  &request.day,    &request.year, &request.hour,
                     &request.minute, &request.length, &request.rate};
    for (int i = 0; i < 7; ++i) *fields[i] = items.numbers[i];
    request.replyTo = items.lastWord;
    cutAtLineEnd(request.replyTo);
    std::vector<std::string> pieces = splitChannelList(items.channelList);
    if (pieces.empty())
        return ParseOutcome::kNoChannels;
    if (!piecesFitRecord(pieces)) {
        log.logMsg(true, "Bad Request Line = %s", text.c_str());
        return ParseOutcome::kBadLine;
    }
    for (const std::string& piece : pieces) request.channels[request.channelCount++] = piece;
    return ParseOutcome::kUsable;
}

int parseFileRequest(const std::string& text, EventFileRequest& request, ActivityLog& log) {
    return parseFileRequestLine(text, request, log) == ParseOutcome::kUsable;
}

int parseInfoRequest(const std::string& text, EventFileRequest& request, ActivityLog& log) {
    request = EventFileRequest{};
    std::string word;
    ItemScanner scanner(text);
    std::string more;
    if (!fitsLine(text, kInfoRequestPrefix) || !scanner.readWord(word) || scanner.readWord(more)) {
        log.logMsg(true, "Bad Request Line = %s", text.c_str());
        return 0;
    }
    request.replyTo = word;
    cutAtLineEnd(request.replyTo);
    return 1;
}

int checkLengthAndRate(const EventFileRequest& request) {
    return request.length > 0 && request.rate > 0 && request.rate <= 200;
}

bool isSafeChannelId(const std::string& id) {
    return id.find('/') == std::string::npos && id.find('\\') == std::string::npos &&
           id.find("..") == std::string::npos;
}

int submitFileRequest(RequestContext& ctx, EventFileRequest& request, int& bothSystems,
                      std::string& error) {
    const RecorderSystem& first = ctx.settings.firstSystem;
    const RecorderSystem& second = ctx.settings.secondSystem;
    std::string firstList, secondList;
    int count = request.channelCount < 0 ? 0
                : request.channelCount > EventFileRequest::maxChannels
                    ? EventFileRequest::maxChannels
                    : request.channelCount;
    for (int i = 0; i < count; ++i) {
        request.channelStatus[i] = kChannelNotFound;
        std::string id = request.channels[i].str();
        if (!isSafeChannelId(id))
            continue;
        if (servedBy(id, first)) {
            appendToList(firstList, id);
            request.channelStatus[i] = kChannelAssigned;
        } else if (servedBy(id, second)) {
            appendToList(secondList, id);
            request.channelStatus[i] = kChannelAssigned;
        }
    }
    if (firstList.empty() && secondList.empty()) {
        error = "No channel IDs found at this station";
        return 0;
    }
    if (!checkLengthAndRate(request)) {
        error = "Invalid time length or sample rate";
        return 0;
    }
    if (!firstList.empty())
        writeRequestFile(ctx, request, firstList, ctx.settings.mornakReq.str(), 0);
    if (!secondList.empty())
        writeRequestFile(ctx, request, secondList, ctx.settings.mornak2Req.str(), 1);
    bothSystems = !firstList.empty() && !secondList.empty();
    return 1;
}
