// The settings files as a user meets them: defaults with no files, map options over
// program options, where the map's files go, the window position and host sections.
#include "model/hosts.h"
#include "model/settings.h"
#include "platform/profile.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// Each test runs in a fresh current directory with its own config directory.
class SettingsTest : public testing::Test {
  protected:
    SettingsTest() : dir_(true) {
        setenv("XDG_CONFIG_HOME", dir_.file("config").c_str(), 1);
        platform::FlushProfileCache();
    }
    std::string GlobalFile() const { return dir_.file("config/tarnmap/TARNMAP.INI"); }
    TempDir dir_;
};

TEST_F(SettingsTest, DefaultsWithoutAnyFile) {
    SelectMapFiles("office.db");
    EXPECT_EQ(noAutomaticChecks, 1u);
    EXPECT_EQ(pollInterval, 60u);
    EXPECT_EQ(waitTimeout, 5000u);
    EXPECT_EQ(useIcmpLibrary, 1u);
    EXPECT_EQ(useRawIcmp, 0u);
    EXPECT_EQ(probePort, 230u);
    EXPECT_EQ(soundEnabled, 1u);
    EXPECT_EQ(scaledMapFont, 0u);
    EXPECT_STREQ(telnetCommand, "x-terminal-emulator -e telnet");
    EXPECT_STREQ(ftpCommand, "x-terminal-emulator -e ftp");
    EXPECT_STREQ(beepString, "ATDT%s,,,,,%s#");
    EXPECT_EQ(beepPort, 1u);
    EXPECT_EQ(beepBaud, 1u);
    EXPECT_EQ(beepEnable, 0u);
    EXPECT_STREQ(pageNumber, "");
    EXPECT_EQ(globalSettingsPath, GlobalFile());

    unsigned colors[COLOR_SLOT_COUNT];
    ReadColors(colors);
    const unsigned expected[COLOR_SLOT_COUNT] = {10, 11, 16, 16, 6, 5, 1, 2, 0};
    for (unsigned slot = 0; slot < COLOR_SLOT_COUNT; ++slot)
        EXPECT_EQ(colors[slot], expected[slot]) << colorKeys[slot];
}

TEST_F(SettingsTest, GlobalFileInCurrentDirectoryWins) {
    WriteWholeFile(dir_.file("TARNMAP.INI"), "[OPTS]\r\nTIMER=17\r\n");
    WriteWholeFile(dir_.file("config/tarnmap/TARNMAP.INI"), "");
    ReadProgramOptions();
    EXPECT_EQ(std::string(globalSettingsPath), dir_.file("TARNMAP.INI"));
    EXPECT_EQ(pollInterval, 17u);
}

TEST_F(SettingsTest, MapOptionsOverProgramOptions) {
    WriteWholeFile(dir_.file("TARNMAP.INI"),
                   "[OPTS]\r\nTIMER=90\r\nWAIT=2000\r\nPING=1\r\nNOCHECK=0\r\n");
    WriteWholeFile(dir_.file("fast.INI"), "[OPTS]\r\nTIMER=30\r\nPING=0\r\n");
    SelectMapFiles("fast.db");
    EXPECT_EQ(pollInterval, 30u);
    EXPECT_EQ(waitTimeout, 2000u);
    EXPECT_EQ(noAutomaticChecks, 0u);
    EXPECT_EQ(useRawIcmp, 1u) << "PING is not a map option";

    SelectMapFiles("plain.db");
    EXPECT_EQ(pollInterval, 90u);

    // TIMER is a 16-bit number.
    WriteWholeFile(dir_.file("wide.INI"), "[OPTS]\r\nTIMER=65541\r\n");
    SelectMapFiles("wide.db");
    EXPECT_EQ(pollInterval, 5u);
}

TEST_F(SettingsTest, MapFilePathsByTheLastDot) {
    SelectMapFiles("x.db");
    EXPECT_EQ(std::string(mapSettingsPath), dir_.file("x.INI"));
    EXPECT_EQ(std::string(mapLogPath), dir_.file("x.LOG"));

    SelectMapFiles("/srv/a.b/map");
    EXPECT_STREQ(mapSettingsPath, "/srv/a.INI");
    EXPECT_STREQ(mapLogPath, "/srv/a.LOG");

    SelectMapFiles("/srv/maps/noext");
    EXPECT_STREQ(mapSettingsPath, "/srv/maps/noext.InI");
    EXPECT_STREQ(mapLogPath, "/srv/maps/noext.LoG");

    SelectMapFiles("sub/net.office.db");
    EXPECT_STREQ(mapSettingsPath, "sub/net.office.INI");
}

TEST_F(SettingsTest, OverlongMapPathIsRefusedNotCut) {
    std::string longPath = "/" + std::string(300, 'd') + "/map.db";
    SelectMapFiles(longPath.c_str());
    EXPECT_STREQ(mapSettingsPath, "");
    EXPECT_STREQ(mapLogPath, "");
    EXPECT_FALSE(WriteOptions(mapSettingsPath)) << "nothing may be written to a cut path";

    // A stem of 251 characters leaves exactly room for ".INI" and ".LOG"; one more is
    // refused.
    std::string stem = "/" + std::string(249, 'e') + "x";
    SelectMapFiles((stem + ".db").c_str());
    EXPECT_EQ(std::string(mapSettingsPath), stem + ".INI");
    EXPECT_EQ(std::string(mapLogPath), stem + ".LOG");
    SelectMapFiles((stem + "y.db").c_str());
    EXPECT_STREQ(mapSettingsPath, "");
}

TEST_F(SettingsTest, OpeningAMapIsLogged) {
    SelectMapFiles("site.db");
    std::string log = ReadWholeFile(dir_.file("site.LOG"));
    ASSERT_EQ(log.size(), 18u + std::string("open of database site.db\r\n").size()) << log;
    EXPECT_EQ(log.substr(18), "open of database site.db\r\n");
}

TEST_F(SettingsTest, WriteOptionsSplitsBetweenTargets) {
    WriteWholeFile(dir_.file("TARNMAP.INI"), "");
    SelectMapFiles("m.db");
    pollInterval = 45;
    waitTimeout = 7000;
    noAutomaticChecks = 0;
    useRawIcmp = 1;
    scaledMapFont = 1;
    ASSERT_TRUE(WriteOptions(mapSettingsPath));
    EXPECT_EQ(ReadWholeFile(dir_.file("m.INI")),
              "[OPTS]\r\nFONT=1\r\nSOUND=1\r\nFIXFONT=1\r\nTIMER=45\r\nWAIT=7000\r\nICONS=1\r\n"
              "LABEL=1\r\nNOCHECK=0\r\n");
    EXPECT_EQ(ReadWholeFile(dir_.file("TARNMAP.INI")),
              "[OPTS]\r\nTELNET=x-terminal-emulator -e telnet\r\nFTP=x-terminal-emulator -e "
              "ftp\r\nPING=1\r\nSHOW=1\r\nBACKGROUND=0\r\nMSICMP=1\r\n");

    // Read back through a fresh selection.
    pollInterval = 1;
    useRawIcmp = 0;
    SelectMapFiles("m.db");
    EXPECT_EQ(pollInterval, 45u);
    EXPECT_EQ(useRawIcmp, 1u);
}

TEST_F(SettingsTest, ColoursRoundTripAndBadIndicesFallBack) {
    WriteWholeFile(dir_.file("TARNMAP.INI"), "[COLORS]\r\nOK=99\r\nONE=3\r\n");
    ReadProgramOptions();
    unsigned colors[COLOR_SLOT_COUNT];
    ReadColors(colors);
    EXPECT_EQ(colors[0], 10u) << "an index past the palette is the default";
    EXPECT_EQ(colors[1], 3u);

    const unsigned chosen[COLOR_SLOT_COUNT] = {1, 2, 3, 4, 5, 6, 7, 8, 23};
    ASSERT_TRUE(WriteColors(chosen));
    unsigned back[COLOR_SLOT_COUNT];
    ReadColors(back);
    for (unsigned slot = 0; slot < COLOR_SLOT_COUNT; ++slot)
        EXPECT_EQ(back[slot], chosen[slot]);
}

TEST_F(SettingsTest, WindowPositionWrapsNegativeCoordinates) {
    ReadProgramOptions();
    SaveWindowPosition({-4, -4, 1284, 1028});
    EXPECT_NE(ReadWholeFile(GlobalFile()).find("LOC=4294967292,4294967292,1284,1028\r\n"),
              std::string::npos);
    platform::RECT rect{};
    ASSERT_TRUE(RestoreWindowPosition(&rect));
    EXPECT_EQ(rect.left, -4);
    EXPECT_EQ(rect.top, -4);
    EXPECT_EQ(rect.right, 1284);
    EXPECT_EQ(rect.bottom, 1028);

    for (const char* bad : {"10,20,300", "10,20,300,x", "", "a,b,c,d", "1;2;3;4"}) {
        platform::WritePrivateProfileString("OPTS", "LOC", bad, globalSettingsPath);
        EXPECT_FALSE(RestoreWindowPosition(&rect)) << bad;
    }
}

TEST_F(SettingsTest, HostSectionDefaultsDependOnTheReader) {
    ClearMap();
    AppendHost(0, 0);
    AppendHost(1, 1);
    AppendHost(2, 2);
    CopyField(hostTable[2].name, sizeof hostTable[2].name, "mail");
    WriteWholeFile(dir_.file("TARNMAP.INI"), "[OPTS]\r\nBEEP_NUMBER=5551234\r\n");
    WriteWholeFile(dir_.file("h.INI"),
                   "[MAIL]\r\nsound=3\r\nEXTERNAL=/usr/bin/notify x\r\nBEEP_EACH=1\r\n");
    SelectMapFiles("h.db");

    HostSettings alarm;
    ReadHostSettings(2, HostSettingsReader::Alarms, &alarm);
    EXPECT_EQ(alarm.sound, 3u) << "section and key match without regard to case";
    EXPECT_EQ(alarm.log, 1u);
    EXPECT_EQ(alarm.beeper, 0u);
    EXPECT_EQ(alarm.beepEach, 1u);
    EXPECT_EQ(alarm.beepCount, 14u);
    EXPECT_EQ(alarm.beepCode, 2u);
    EXPECT_EQ(alarm.beepPriority, 2u);
    EXPECT_STREQ(alarm.beepNumber, "");
    EXPECT_STREQ(alarm.external, "/usr/bin/notify x");

    HostSettings dialog;
    ReadHostSettings(2, HostSettingsReader::Dialog, &dialog);
    EXPECT_EQ(dialog.beepCount, 19u);
    EXPECT_STREQ(dialog.beepNumber, "5551234");

    // Hosts 0 and 1 share the name "newhost" and so one section.
    platform::WritePrivateProfileString("newhost", "BEEP_CODE", "77", mapSettingsPath);
    EXPECT_EQ(ReadHostSetting(0, "BEEP_CODE", HostSettingsReader::Alarms), 77u);
    EXPECT_EQ(ReadHostSetting(1, "BEEP_CODE", HostSettingsReader::Alarms), 77u);
    EXPECT_EQ(ReadHostSetting(1, "BEEP_PRIORITY", HostSettingsReader::Alarms), 1u);
}

} // namespace
