#include "testing/station_fixture.h"

#include <sys/stat.h>

#include <sstream>

StationFixture::StationFixture() {
    for (const char* sub : {"m", "req", "tmp"})
        mkdir(dir.file(sub).c_str(), 0700);
    writeFile(dir.file("m/mornak.ini"),
              "[Station]\nSYSTEMNUMBER=1\nNUMBERCHANNELS=3\nSAMPLESPERSECOND=100\n"
              "CHANFILE1=bhz.chn\nCHANFILE2=bhn.chn\nCHANFILE3=bhe.chn\n"
              "VOLINFO1=0,quiet,bhz,bhn\n");
    const char* ids[] = {"BHZ", "BHN", "BHE"};
    const char* components[] = {"Z", "N", "E"};
    for (int i = 0; i < 3; ++i) {
        std::string name = std::string(ids[i]) + ".chn";
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        writeFile(dir.file("m/" + name), std::string("FILEEXTENTION=") + ids[i] +
                                             "\nLOCATION=Vault 1\nINFORMATION=\nCOMPNAME=" +
                                             components[i] + "\n");
    }
}

void StationFixture::start(const std::string& extraSettings) {
    writeFile(dir.file("tarnwick.ini"),
              "StationName=ANMO\nPopServer=pop.example\nPopUser=station\nPopKeyStr=7077\n"
              "PopCheckTime=2\nSmtpServer=smtp.example\nFromUser=ANMO Robot <robot@anmo>\n"
              "TempDir=" + tempDir() + "\nMornakDir=" + dir.file("m/") +
                  "\nMornakReq=" + requestDir() + "\n" + extraSettings);
    app = std::make_unique<MailerApp>(clock, dir.path(), &transport);
    app->setCheckNowControl(&checkNow);
    app->startUp();
}

void StationFixture::tick(int n) {
    for (int i = 0; i < n; ++i) {
        ++clock.seconds;
        app->onTick();
    }
}

std::vector<std::string> StationFixture::entries(std::size_t from) const {
    std::vector<std::string> out;
    const auto& list = app->log().entries();
    for (std::size_t i = from; i < list.size(); ++i)
        out.push_back(list[i].substr(15));
    return out;
}

std::vector<std::string> StationFixture::fileEntries() const {
    std::vector<std::string> out;
    std::istringstream in(readFile(dir.file("tarnwick.log")));
    for (std::string line; std::getline(in, line);)
        out.push_back(line.substr(18));
    return out;
}

void StationFixture::answer(const std::string& responseLine,
                            const std::vector<std::string>& channels) {
    for (const std::string& channel : channels)
        writeFile(eventFile(channel), "event data of " + channel);
    writeFile(requestFile() + ".ack", responseLine + "\n");
}

std::string fileRequestLine(const std::string& channels) {
    return "eventfilerequest=2 18 2003 14 30 5 20 " + channels + " a@b.example";
}
