#include "recorder-sim/sample_config.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

struct SampleChannel {
    const char* file;
    const char* id;
    const char* component;
    const char* information;
};

constexpr SampleChannel kChannels[] = {
    {"bhz.chn", "BHZ", "Vertical", "Broadband seismometer, vertical component"},
    {"bhn.chn", "BHN", "North", "Broadband seismometer, north component"},
    {"bhe.chn", "BHE", "East", "Broadband seismometer, east component"},
};

bool writeText(const std::string& path, const std::string& text, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (!file || std::fputs(text.c_str(), file) < 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        if (file)
            std::fclose(file);
        return false;
    }
    if (std::fclose(file) != 0) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace

bool writeSampleConfig(const std::string& dir, int systemNumber, std::string& error) {
    ::mkdir(dir.c_str(), 0755);
    std::string ini = "[Mornak]\nSYSTEMNUMBER=" + std::to_string(systemNumber) +
                      "\nNUMBERCHANNELS=3\nSAMPLESPERSECOND=100\n";
    int slot = 1;
    for (const SampleChannel& c : kChannels)
        ini += "CHANFILE" + std::to_string(slot++) + "=" + c.file + "\n";
    ini += "VOLINFO1=0,ALL,BHZ,BHN,BHE\n";
    if (!writeText(dir + "mornak.ini", ini, error))
        return false;
    for (const SampleChannel& c : kChannels) {
        std::string text = std::string("FILEEXTENTION=") + c.id +
                           "\nLOCATION=Tarnwick vault, pier 1\nINFORMATION=" + c.information +
                           "\nCOMPNAME=" + c.component + "\n";
        if (!writeText(dir + c.file, text, error))
            return false;
    }
    return true;
}
