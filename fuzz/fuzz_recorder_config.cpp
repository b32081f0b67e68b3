// The recorder's configuration: mornak.ini and the channel files it names, for two systems,
// written into a scratch directory and read with loadRecorderSystems.
//
// Input: records cut at 0x1e. The first is the first system's mornak.ini; each further record
// is "NAME\nCONTENT", a file of the first system's directory, or of the second one's when NAME
// begins with "2/" ("2/mornak.ini" is the second system's own). A NAME that is not a plain file
// name is skipped. Without a first mornak.ini (an empty first record and no "mornak.ini"
// record) the first system cannot be read.
//
// Inputs whose mornak.ini texts hold ".." are left alone: a channel file name is a path below
// the recorder's directory, and the recorder's own files are trusted to stay inside it (a
// name reaching /dev/stdin would wait on the terminal).
//
// Oracle: no crash; numberChannels within 0 to 8 and usedChannelSlots the same; every text
// within its capacity; channel IDs at most 6 characters with no lower-case letter; the
// directories end in '/'; a missing mornak.ini is logged and leaves its system (and for the
// first one both) zero; NUMBERCHANNELS, SYSTEMNUMBER and SAMPLESPERSECOND as a reference reading
// of the ini gives them; the lookups agree with each other (a channel in use is a system channel
// exactly when it is not a member of an enabled volume; every volume name is found).

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "activity/activity_log.h"
#include "fuzz/fuzz_support.h"
#include "requests/recorder_config.h"
#include "settings/mailer_settings.h"
#include "testing/fake_clock.h"

namespace {

template <std::size_t N>
void checkCapacity(const FixedText<N>& text, const std::string& field) {
    FUZZ_CHECK(std::memchr(text.c_str(), '\0', N) != nullptr && text.size() <= N - 1,
               field + " over capacity");
}

bool validName(const std::string& name) {
    return !name.empty() && name.size() <= 64 && name != "." && name != ".." &&
           name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

struct IniNumbers {
    int systemNumber = 0;
    int numberChannels = 0;
    int samplesPerSecond = 0;
};

// The three numbers of a mornak.ini as the documented reading gives them: pieces of at most 99
// characters, cut at a zero byte and the line end, split at the first '=', the key upper-cased.
IniNumbers referenceNumbers(std::string_view file) {
    IniNumbers numbers;
    while (!file.empty()) {
        std::size_t n = std::min<std::size_t>(file.size(), 99);
        std::size_t lf = file.substr(0, n).find('\n');
        if (lf != std::string_view::npos)
            n = lf + 1;
        std::string_view piece = file.substr(0, n);
        file.remove_prefix(n);
        piece = piece.substr(0, piece.find('\0'));
        piece = piece.substr(0, piece.find('\n'));
        piece = piece.substr(0, piece.find('\r'));
        std::size_t eq = piece.find('=');
        if (eq == std::string_view::npos)
            continue;
        std::string key(piece.substr(0, eq));
        for (char& c : key)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        std::string_view value = piece.substr(eq + 1);
        if (key == "SYSTEMNUMBER")
            numbers.systemNumber = fuzz::referenceAtoi(value);
        else if (key == "NUMBERCHANNELS")
            numbers.numberChannels = std::clamp(fuzz::referenceAtoi(value), 0, 8);
        else if (key == "SAMPLESPERSECOND")
            numbers.samplesPerSecond = fuzz::referenceAtoi(value);
    }
    return numbers;
}

bool isZero(const RecorderSystem& system) {
    RecorderSystem zero{};
    return std::memcmp(&system, &zero, sizeof zero) == 0;
}

std::string lowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

void checkSystem(const RecorderSystem& system, const std::string& which,
                 const std::string* ini) {
    FUZZ_CHECK(system.numberChannels >= 0 && system.numberChannels <= RecorderSystem::maxChannels,
               which + " numberChannels " + std::to_string(system.numberChannels));
    FUZZ_CHECK(usedChannelSlots(system) == system.numberChannels,
               which + " usedChannelSlots differs from numberChannels");
    for (int i = 0; i < RecorderSystem::maxChannels; ++i) {
        const RecorderChannel& c = system.channels[i];
        std::string slot = which + " channel " + std::to_string(i + 1);
        checkCapacity(c.id, slot + " id");
        checkCapacity(c.location, slot + " location");
        checkCapacity(c.information, slot + " information");
        checkCapacity(c.component, slot + " component");
        FUZZ_CHECK(c.id.size() <= 6 && !std::any_of(c.id.view().begin(), c.id.view().end(),
                                                    [](char ch) { return ch >= 'a' && ch <= 'z'; }),
                   slot + " id " + fuzz::visible(c.id.view()));
    }
    for (int v = 0; v < RecorderSystem::maxVolumes; ++v) {
        const DatasetVolume& volume = system.volumes[v];
        std::string slot = which + " volume " + std::to_string(v + 1);
        checkCapacity(volume.name, slot + " name");
        for (const auto& member : volume.memberChannels) checkCapacity(member, slot + " member");
        if (!volume.name.empty()) {
            FUZZ_CHECK(isVolumeName(volume.name.str(), system) == 1, slot + " name not found");
            FUZZ_CHECK(isVolumeName(lowerAscii(volume.name.str()), system) == 1,
                       slot + " name not found in lower case");
        }
    }
    FUZZ_CHECK(isVolumeName("", system) == 0, which + ": an empty ID names a volume");
    FUZZ_CHECK(isSystemChannel("", system) == 0, which + ": an empty ID is a system channel");
    for (int i = 0; i < usedChannelSlots(system); ++i) {
        std::string id = system.channels[i].id.str();
        if (id.empty())
            continue;
        bool member = isVolumeChannel(id, system) != 0;
        FUZZ_CHECK((isSystemChannel(id, system) != 0) == !member,
                   which + " channel " + fuzz::visible(id) +
                       ": system channel and volume member disagree");
        FUZZ_CHECK(isSystemChannel(lowerAscii(id), system) == isSystemChannel(id, system),
                   which + " channel lookup depends on letter case");
    }
    if (ini) {
        IniNumbers expected = referenceNumbers(*ini);
        FUZZ_CHECK(system.numberChannels == expected.numberChannels &&
                       system.systemNumber == expected.systemNumber &&
                       system.samplesPerSecond == expected.samplesPerSecond,
                   which + " numbers " + std::to_string(system.systemNumber) + "/" +
                       std::to_string(system.numberChannels) + "/" +
                       std::to_string(system.samplesPerSecond) + ", expected " +
                       std::to_string(expected.systemNumber) + "/" +
                       std::to_string(expected.numberChannels) + "/" +
                       std::to_string(expected.samplesPerSecond));
    }
}

bool logged(const ActivityLog& log, const std::string& text) {
    for (const std::string& entry : log.entries())
        if (entry.size() >= text.size() && entry.compare(entry.size() - text.size(), text.size(), text) == 0)
            return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> records =
        fuzz::splitRecords(std::string_view(reinterpret_cast<const char*>(data), size));
    fuzz::ScratchDir dir;
    const std::string first = dir.file("m1"), second = dir.file("m2");
    fuzz::makeDir(first);
    fuzz::makeDir(second);

    std::string ini1, ini2;
    bool haveIni1 = !records[0].empty(), haveIni2 = false;
    if (haveIni1)
        ini1 = records[0];
    for (std::size_t i = 1; i < records.size() && i <= 24; ++i) {
        const std::string& record = records[i];
        std::size_t lf = record.find('\n');
        std::string name = record.substr(0, lf);
        std::string content = lf == std::string::npos ? "" : record.substr(lf + 1);
        bool inSecond = name.compare(0, 2, "2/") == 0;
        if (inSecond)
            name.erase(0, 2);
        if (!validName(name))
            continue;
        if (name == "mornak.ini") {
            (inSecond ? haveIni2 : haveIni1) = true;
            (inSecond ? ini2 : ini1) = content;
        }
        fuzz::writeBytes((inSecond ? second : first) + "/" + name, content);
    }
    if (ini1.find("..") != std::string::npos || ini2.find("..") != std::string::npos)
        return -1;
    if (haveIni1)
        fuzz::writeBytes(first + "/mornak.ini", ini1);

    FakeClock clock;
    ActivityLog log(clock, "");
    MailerSettings settings;
    resetSettings(settings);
    settings.mornakDir = first;  // without its '/': the reading adds it
    settings.mornak2Dir = second + "/";
    loadRecorderSystems(settings, log);

    FUZZ_CHECK(settings.mornakDir == first + "/", "mornakDir " + settings.mornakDir.str());
    FUZZ_CHECK(settings.mornak2Dir == second + "/", "mornak2Dir " + settings.mornak2Dir.str());
    if (!haveIni1) {
        FUZZ_CHECK(logged(log, "First MORNAK INI parse error"), "missing first ini not logged");
        FUZZ_CHECK(isZero(settings.firstSystem) && isZero(settings.secondSystem),
                   "a system is set without the first mornak.ini");
    } else if (!haveIni2) {
        FUZZ_CHECK(logged(log, "Second MORNAK INI parse error"), "missing second ini not logged");
        FUZZ_CHECK(isZero(settings.secondSystem), "second system set without its mornak.ini");
    }
    checkSystem(settings.firstSystem, "first", haveIni1 ? &ini1 : nullptr);
    checkSystem(settings.secondSystem, "second", haveIni1 && haveIni2 ? &ini2 : nullptr);
    return 0;
}
