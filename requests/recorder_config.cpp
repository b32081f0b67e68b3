#include "requests/recorder_config.h"

#include <cstdio>
#include <string_view>

#include "activity/activity_log.h"
#include "settings/mailer_settings.h"
#include "settings/text_routines.h"

namespace {

// Reads the next piece of a line, at most 99 characters, as a 100-byte line read does.
// Returns false at the end of the file.
bool readPiece(std::FILE* file, std::string& piece) {
    char buffer[100];
    if (!std::fgets(buffer, sizeof buffer, file))
        return false;
    piece.assign(buffer);
    return true;
}

// Reads the next "KEY=value" piece of the file; pieces without '=' are skipped. Returns
// false at the end of the file.
bool readKeyValue(std::FILE* file, std::string& key, std::string& value) {
    std::string piece;
    while (readPiece(file, piece))
        if (splitKeyValue(piece, key, value))
            return true;
    return false;
}

int clampSlots(int n) {
    return n < 0 ? 0 : n > RecorderSystem::maxChannels ? RecorderSystem::maxChannels : n;
}

// A VOLINFO text item: one that begins with a blank stands for an empty item.
std::string_view volumeItem(std::string_view piece) {
    return !piece.empty() && piece[0] == ' ' ? std::string_view("") : piece;
}

// Reads one system's directory after giving the setting its trailing '/'.
template <std::size_t N>
int readSystemAt(FixedText<N>& dirSetting, RecorderSystem& system) {
    std::string dir = dirSetting.str();
    addTrailingSlash(dir);
    dirSetting = dir;
    return readRecorderIni(dir, system);
}

}  // namespace

void loadRecorderSystems(MailerSettings& settings, ActivityLog& log) {
    settings.firstSystem = RecorderSystem{};
    settings.secondSystem = RecorderSystem{};
    if (settings.mornakDir.empty())
        return;
    if (!readSystemAt(settings.mornakDir, settings.firstSystem)) {
        log.logMsg(true, "First MORNAK INI parse error");
        settings.firstSystem = RecorderSystem{};
        return;
    }
    if (settings.mornak2Dir.empty())
        return;
    if (!readSystemAt(settings.mornak2Dir, settings.secondSystem)) {
        log.logMsg(true, "Second MORNAK INI parse error");
        settings.secondSystem = RecorderSystem{};
    }
}

int readRecorderIni(const std::string& dir, RecorderSystem& system) {
    std::FILE* file = std::fopen((dir + kRecorderIniName).c_str(), "r");
    if (!file)
        return 0;
    std::string key, value;
    while (readKeyValue(file, key, value)) {
        if (key == "SYSTEMNUMBER") {
            system.systemNumber = parseInteger(value.c_str());
        } else if (key == "NUMBERCHANNELS") {
            system.numberChannels = clampSlots(parseInteger(value.c_str()));
        } else if (key == "SAMPLESPERSECOND") {
            system.samplesPerSecond = parseInteger(value.c_str());
        } else if (key.starts_with("CHANFILE")) {
            char digit = key.size() > 8 ? key[8] : '\0';
            int slot = digit - '0';
            if (slot >= 1 && slot <= RecorderSystem::maxChannels)
                readChannelFile(dir, value, system.channels[slot - 1]);
        } else if (key.starts_with("VOLINFO")) {
            char digit = key.size() > 7 ? key[7] : '\0';
            int slot = digit - '0';
            if (slot >= 1 && slot <= RecorderSystem::maxVolumes)
                parseVolInfo(value, system.volumes[slot - 1]);
        }
    }
    std::fclose(file);
    return 1;
}

void readChannelFile(const std::string& dir, const std::string& fileName, RecorderChannel& slot) {
    slot = RecorderChannel{};
    std::FILE* file = std::fopen((dir + fileName).c_str(), "r");
    if (!file)
        return;
    std::string key, value;
    while (readKeyValue(file, key, value)) {
        if (key == "FILEEXTENTION")
            slot.id = toUpperAscii(value.substr(0, 6));
        else if (key == "COMPNAME")
            slot.component = value;
        else if (key == "LOCATION")
            slot.location = value;
        else if (key == "INFORMATION")
            slot.information = value;
        if (!slot.id.empty() && !slot.component.empty() && !slot.location.empty() &&
            !slot.information.empty())
            break;
    }
    std::fclose(file);
}

void parseVolInfo(const std::string& value, DatasetVolume& volume) {
    std::string_view rest(value);
    int item = 0;
    while (!rest.empty()) {
        std::size_t end = rest.find_first_of(",\n");
        std::string_view piece = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (piece.empty())
            continue;
        if (item == 0)
            volume.enabled = parseInteger(std::string(piece).c_str());
        else if (item == 1)
            volume.name = volumeItem(piece);
        else
            volume.memberChannels[item - 2] = volumeItem(piece);
        if (++item == 5)
            return;
    }
}

int usedChannelSlots(const RecorderSystem& system) {
    return clampSlots(system.numberChannels);
}

int isVolumeName(const std::string& id, const RecorderSystem& system) {
    if (id.empty())
        return 0;
    for (const DatasetVolume& volume : system.volumes)
        if (equalsIgnoreCase(id, volume.name.str()))
            return 1;
    return 0;
}

int isVolumeChannel(const std::string& id, const RecorderSystem& system) {
    for (const DatasetVolume& volume : system.volumes) {
        if (!volume.enabled)
            continue;
        for (const auto& member : volume.memberChannels)
            if (equalsIgnoreCase(id, member.str()))
                return 1;
    }
    return 0;
}

int isSystemChannel(const std::string& id, const RecorderSystem& system) {
    int slots = usedChannelSlots(system);
    if (slots == 0 || isVolumeChannel(id, system) || id.empty())
        return 0;
    for (int i = 0; i < slots; ++i)
        if (equalsIgnoreCase(id, system.channels[i].id.str()))
            return 1;
    return 0;
}
