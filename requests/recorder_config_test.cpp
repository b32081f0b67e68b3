#include "requests/recorder_config.h"

#include <gtest/gtest.h>

#include "requests/request_test_support.h"

namespace {

class RecorderConfigTest : public RequestTest {
  protected:
    void SetUp() override { writeFile(dir.file("mornak.ini"), ""); }
    RecorderSystem readIni(const std::string& text) {
        writeFile(dir.file("mornak.ini"), text);
        RecorderSystem system;
        EXPECT_EQ(1, readRecorderIni(dir.path(), system));
        return system;
    }
    RecorderChannel readChannel(const std::string& text) {
        writeFile(dir.file("c.chn"), text);
        RecorderChannel slot;
        slot.id = "OLD";
        readChannelFile(dir.path(), "c.chn", slot);
        return slot;
    }
};

const char kBhz[] =
    "[Channel]\r\nFILEEXTENTION=bhz\r\nLOCATION=Vault 1\r\nINFORMATION=Vertical sensor\r\n"
    "COMPNAME=Z\r\n";

}  // namespace

TEST_F(RecorderConfigTest, ReadsTheIniAndTheChannelFilesItNames) {
    writeFile(dir.file("bhz.chn"), kBhz);
    writeFile(dir.file("bhn.chn"), "FILEEXTENTION=BHN\nCOMPNAME=N\n");
    RecorderSystem s = readIni(
        "[Mornak]\r\nSYSTEMNUMBER=3\r\nNUMBERCHANNELS=2\r\nSAMPLESPERSECOND=100\r\n"
        "CHANFILE1=bhz.chn\r\nCHANFILE2=bhn.chn\r\nVOLINFO2=1,VOLA,BHZ,BHN\r\nOTHER=1\r\n");
    EXPECT_EQ(3, s.systemNumber);
    EXPECT_EQ(2, s.numberChannels);
    EXPECT_EQ(100, s.samplesPerSecond);
    EXPECT_EQ("BHZ", s.channels[0].id);
    EXPECT_EQ("Vault 1", s.channels[0].location);
    EXPECT_EQ("Vertical sensor", s.channels[0].information);
    EXPECT_EQ("Z", s.channels[0].component);
    EXPECT_EQ("BHN", s.channels[1].id);
    EXPECT_EQ("", s.channels[1].location);
    EXPECT_EQ("N", s.channels[1].component);
    EXPECT_EQ(0, s.volumes[0].enabled);
    EXPECT_EQ(1, s.volumes[1].enabled);
    EXPECT_EQ("VOLA", s.volumes[1].name);
    EXPECT_EQ("BHZ", s.volumes[1].memberChannels[0]);
    EXPECT_EQ("BHN", s.volumes[1].memberChannels[1]);
    EXPECT_EQ("", s.volumes[1].memberChannels[2]);
}

TEST_F(RecorderConfigTest, KeysIgnoreCaseButBlanksAroundTheEqualsSignSpoilThem) {
    RecorderSystem s = readIni(
        "systemnumber=2\nSamplesPerSecond=50\nNUMBERCHANNELS =4\n"
        " SAMPLESPERSECOND=7\nNUMBERCHANNELS= 3\n");
    EXPECT_EQ(2, s.systemNumber);
    EXPECT_EQ(50, s.samplesPerSecond);
    EXPECT_EQ(3, s.numberChannels);  // a value's leading blanks are skipped by the number read

    s = readIni("SYSTEMNUMBER = 5\nSYSTEMNUMBER=1\nSYSTEMNUMBER=4\n");
    EXPECT_EQ(4, s.systemNumber);  // the later key wins
}

TEST_F(RecorderConfigTest, OnlyTheCharacterAfterTheKeyNameSelectsTheSlot) {
    writeFile(dir.file("bhz.chn"), kBhz);
    RecorderSystem s = readIni(
        "NUMBERCHANNELS=8\nCHANFILE12=bhz.chn\nCHANFILE0=bhz.chn\nCHANFILE9=bhz.chn\n"
        "CHANFILEX=bhz.chn\nCHANFILE=bhz.chn\nVOLINFO5=1,FIVE\nVOLINFO0=1,ZERO\n"
        "VOLINFO4x=1,FOUR\n");
    EXPECT_EQ("BHZ", s.channels[0].id);
    for (int i = 1; i < RecorderSystem::maxChannels; ++i)
        EXPECT_TRUE(s.channels[i].id.empty()) << i;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(s.volumes[i].name.empty()) << i;
    EXPECT_EQ("FOUR", s.volumes[3].name);
}

TEST_F(RecorderConfigTest, NumberOfChannelsStaysWithinTheEightSlots) {
    EXPECT_EQ(8, readIni("NUMBERCHANNELS=12\n").numberChannels);
    EXPECT_EQ(0, readIni("NUMBERCHANNELS=-3\n").numberChannels);
    RecorderSystem filledByHand;
    filledByHand.numberChannels = 99;
    EXPECT_EQ(8, usedChannelSlots(filledByHand));
    filledByHand.numberChannels = -1;
    EXPECT_EQ(0, usedChannelSlots(filledByHand));
}

TEST_F(RecorderConfigTest, LinesAreReadInPiecesOfNinetyNineCharacters) {
    // 12 + 87 = 99 characters: the rest of the line is read as a line of its own.
    std::string information = "INFORMATION=" + std::string(87, 'i');
    RecorderChannel c = readChannel(information + "COMPNAME=Z\nLOCATION=" + std::string(100, 'l') +
                                    "\nFILEEXTENTION=b\n");
    EXPECT_EQ(std::string(87, 'i'), c.information);
    EXPECT_EQ("Z", c.component);
    EXPECT_EQ(std::string(90, 'l'), c.location);
    EXPECT_EQ("B", c.id);
}

TEST_F(RecorderConfigTest, ChannelFileCutsItsValuesAndStopsOnceAllFourAreSet) {
    RecorderChannel c = readChannel(
        "FILEEXTENTION=bhz123456\nCOMPNAME=a-component-name-of-24\nLOCATION=L\n"
        "INFORMATION=I\nFILEEXTENTION=later\n");
    EXPECT_EQ("BHZ123", c.id);
    EXPECT_EQ("a-component-nam", c.component);
    EXPECT_EQ("L", c.location);
    EXPECT_EQ("I", c.information);

    c = readChannel("fileextention=abc\nLocation=x\n");
    EXPECT_EQ("ABC", c.id);
    EXPECT_EQ("x", c.location);

    RecorderChannel missing;
    missing.id = "OLD";
    readChannelFile(dir.path(), "absent.chn", missing);
    EXPECT_TRUE(missing.id.empty());
}

TEST(ParseVolInfo, EmptyPiecesAreSkippedAndALeadingBlankMakesAnItemEmpty) {
    DatasetVolume v;
    parseVolInfo("1,v,a,,b", v);
    EXPECT_EQ(1, v.enabled);
    EXPECT_EQ("v", v.name);
    EXPECT_EQ("a", v.memberChannels[0]);
    EXPECT_EQ("b", v.memberChannels[1]);
    EXPECT_EQ("", v.memberChannels[2]);

    DatasetVolume w;
    parseVolInfo("1,v,a, ,b", w);
    EXPECT_EQ("a", w.memberChannels[0]);
    EXPECT_EQ("", w.memberChannels[1]);
    EXPECT_EQ("b", w.memberChannels[2]);

    DatasetVolume blankName;
    parseVolInfo("1, v,a", blankName);
    EXPECT_EQ("", blankName.name);
    EXPECT_EQ("a", blankName.memberChannels[0]);
}

TEST(ParseVolInfo, StopsAtTheFirstMissingItemAndCutsLongItems) {
    DatasetVolume v;
    v.name = "old";
    v.memberChannels[0] = "m0";
    v.memberChannels[2] = "m2";
    parseVolInfo("0,,,new", v);
    EXPECT_EQ(0, v.enabled);
    EXPECT_EQ("new", v.name);
    EXPECT_EQ("m0", v.memberChannels[0]);
    EXPECT_EQ("m2", v.memberChannels[2]);

    DatasetVolume cut;
    parseVolInfo("2," + std::string(60, 'n') + ",a,b,c," + std::string(20, 'm') + ",extra", cut);
    EXPECT_EQ(2, cut.enabled);
    EXPECT_EQ(std::string(47, 'n'), cut.name);
    EXPECT_EQ("c", cut.memberChannels[2]);
}

TEST_F(RecorderConfigTest, LoadGivesBothDirectoriesTheirSlashAndReadsBothSystems) {
    TempDir second;
    writeFile(dir.file("mornak.ini"), "SYSTEMNUMBER=1\nSAMPLESPERSECOND=100\n");
    writeFile(second.file("mornak.ini"), "SYSTEMNUMBER=2\nSAMPLESPERSECOND=20\n");
    std::string first = dir.path();
    first.pop_back();
    std::string secondDir = second.path();
    secondDir.pop_back();
    settings.mornakDir = first;
    settings.mornak2Dir = secondDir;
    settings.firstSystem.numberChannels = 5;  // anything left over is cleared
    loadRecorderSystems(settings, log);
    EXPECT_EQ(dir.path(), settings.mornakDir);
    EXPECT_EQ(second.path(), settings.mornak2Dir);
    EXPECT_EQ(1, settings.firstSystem.systemNumber);
    EXPECT_EQ(0, settings.firstSystem.numberChannels);
    EXPECT_EQ(20, settings.secondSystem.samplesPerSecond);
    EXPECT_TRUE(entries().empty());
}

TEST_F(RecorderConfigTest, AMissingFirstIniLeavesBothSystemsEmpty) {
    TempDir second;
    writeFile(second.file("mornak.ini"), "SAMPLESPERSECOND=20\n");
    settings.mornakDir = dir.file("absent");
    settings.mornak2Dir = second.path();
    loadRecorderSystems(settings, log);
    EXPECT_EQ(dir.file("absent/"), settings.mornakDir);
    EXPECT_EQ(0, settings.secondSystem.samplesPerSecond);
    EXPECT_EQ(std::vector<std::string>{"02/19 07:05:09 First MORNAK INI parse error"}, entries());
    EXPECT_EQ("02/19/03 07:05:09 First MORNAK INI parse error\n", logFile());
}

TEST_F(RecorderConfigTest, AMissingSecondIniLeavesTheFirstUsable) {
    writeFile(dir.file("mornak.ini"), "SAMPLESPERSECOND=100\n");
    settings.mornakDir = dir.path();
    settings.mornak2Dir = dir.file("absent");
    settings.secondSystem.samplesPerSecond = 9;
    loadRecorderSystems(settings, log);
    EXPECT_EQ(100, settings.firstSystem.samplesPerSecond);
    EXPECT_EQ(0, settings.secondSystem.samplesPerSecond);
    EXPECT_EQ("02/19/03 07:05:09 Second MORNAK INI parse error\n", logFile());
}

TEST_F(RecorderConfigTest, WithoutAFirstDirectoryNothingIsReadAndNothingLogged) {
    writeFile(dir.file("mornak.ini"), "SAMPLESPERSECOND=100\n");
    settings.mornak2Dir = dir.path();
    settings.secondSystem.samplesPerSecond = 9;
    loadRecorderSystems(settings, log);
    EXPECT_EQ(0, settings.secondSystem.samplesPerSecond);
    EXPECT_TRUE(entries().empty());
    EXPECT_EQ("", logFile());
}

TEST(ChannelLookups, VolumesAndChannelsIgnoringCase) {
    RecorderSystem s;
    s.numberChannels = 2;
    s.channels[0].id = "BHZ";
    s.channels[1].id = "BHN";
    s.channels[2].id = "BHE";  // beyond numberChannels
    s.volumes[0].enabled = 0;
    s.volumes[0].name = "OFF";
    s.volumes[0].memberChannels[0] = "BHZ";
    s.volumes[1].enabled = 1;
    s.volumes[1].name = "ON";
    s.volumes[1].memberChannels[0] = "BHN";

    EXPECT_EQ(1, isVolumeName("off", s));
    EXPECT_EQ(1, isVolumeName("On", s));
    EXPECT_EQ(0, isVolumeName("bhz", s));
    EXPECT_EQ(0, isVolumeName("", s));  // empty volume slots match no empty ID

    EXPECT_EQ(0, isVolumeChannel("bhz", s));  // member of a disabled volume only
    EXPECT_EQ(1, isVolumeChannel("bhn", s));
    EXPECT_EQ(1, isVolumeChannel("", s));  // ON has two empty member places
    s.volumes[1].memberChannels[1] = "X";
    s.volumes[1].memberChannels[2] = "Y";
    EXPECT_EQ(0, isVolumeChannel("", s));
    s.volumes[1].memberChannels[1] = "";
    s.volumes[1].memberChannels[2] = "";

    EXPECT_EQ(1, isSystemChannel("bhz", s));
    EXPECT_EQ(0, isSystemChannel("bhn", s));  // served only as part of ON
    EXPECT_EQ(0, isSystemChannel("bhe", s));
    s.numberChannels = 0;
    EXPECT_EQ(0, isSystemChannel("bhz", s));
    s.numberChannels = 40;  // beyond the slots: only the eight are looked at
    EXPECT_EQ(1, isSystemChannel("bhe", s));
}
