// The settings files as a user meets them: defaults with no files, map options over
// program options, where the map's files go, the window position and host sections.
#include "model/hosts.h"
#include "model/settings.h"
#include "platform/profile.h"
#include "platform/testing_sys.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Numbers = std::vector<unsigned>;

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
    // NOCHECK, TIMER, WAIT, MSICMP, PING, port, SOUND, FONT, BEEP_PORT, BEEP_BAUD, BEEP_ENABLE
    EXPECT_EQ((Numbers{options.noAutomaticChecks, options.pollInterval, options.waitTimeout,
                       options.useIcmpLibrary, options.useRawIcmp, options.probePort,
                       options.soundEnabled, options.scaledMapFont, options.beepPort,
                       options.beepBaud, options.beepEnable}),
              (Numbers{1, 60, 5000, 1, 0, 230, 1, 0, 1, 1, 0}));
    EXPECT_STREQ(options.telnetCommand, "x-terminal-emulator -e telnet");
    EXPECT_STREQ(options.ftpCommand, "x-terminal-emulator -e ftp");
    EXPECT_STREQ(options.beepString, "ATDT%s,,,,,%s#");
    EXPECT_STREQ(options.pageNumber, "");
    EXPECT_EQ(settingsFiles.global, GlobalFile());
    Numbers colors(COLOR_SLOT_COUNT);
    ReadColors(colors.data());
    EXPECT_EQ(colors, (Numbers{10, 11, 16, 16, 6, 5, 1, 2, 0, 14}));
}

TEST_F(SettingsTest, MapOptionsOverProgramOptionsFromTheCurrentDirectory) {
    WriteWholeFile(dir_.file("TARNMAP.INI"),
                   "[OPTS]\r\nTIMER=90\r\nWAIT=2000\r\nPING=1\r\nNOCHECK=0\r\n");
    WriteWholeFile(GlobalFile(), "[OPTS]\r\nTIMER=17\r\n");
    WriteWholeFile(dir_.file("fast.INI"), "[OPTS]\r\nTIMER=30\r\nPING=0\r\n");
    SelectMapFiles("fast.db");
    EXPECT_EQ(std::string(settingsFiles.global), dir_.file("TARNMAP.INI"));
    EXPECT_EQ(options.pollInterval, 30u);
    EXPECT_EQ(options.waitTimeout, 2000u);
    EXPECT_EQ(options.noAutomaticChecks, 0u);
    EXPECT_EQ(options.useRawIcmp, 1u) << "PING is not a map option";

    SelectMapFiles("plain.db");
    EXPECT_EQ(options.pollInterval, 90u);

    // TIMER is a 16-bit number; WAIT keeps to the Options dialog's range, from either file.
    WriteWholeFile(dir_.file("wide.INI"), "[OPTS]\r\nTIMER=65541\r\nWAIT=4294967295\r\n");
    SelectMapFiles("wide.db");
    EXPECT_EQ(options.pollInterval, 5u);
    EXPECT_EQ(options.waitTimeout, 60000u);
    WriteWholeFile(dir_.file("TARNMAP.INI"), "[OPTS]\r\nWAIT=0\r\n");
    SelectMapFiles("plain.db");
    EXPECT_EQ(options.waitTimeout, 1000u);
}

std::vector<std::string> refusals;
void NoteRefusal(const char* text) {
    refusals.push_back(text);
}

// The settings and log files take the map's path up to the last dot of its file name; a path
// too long for them is refused rather than cut, so nothing is ever written to a cut path, and
// said.
TEST_F(SettingsTest, MapFilePathsByTheLastDotOfTheFileName) {
    refusals.clear();
    settingsReports.mapFilesRefused = NoteRefusal;
    const std::string stem = "/" + std::string(249, 'e') + "x"; // room for ".INI" exactly
    struct Case {
        std::string map, settings, log;
    };
    const Case cases[] = {
        {"x.db", dir_.file("x.INI"), dir_.file("x.LOG")},
        {"/srv/a.b/map", "/srv/a.b/map.InI", "/srv/a.b/map.LoG"},
        {"/srv/maps/noext", "/srv/maps/noext.InI", "/srv/maps/noext.LoG"},
        {"sub/net.office.db", "sub/net.office.INI", "sub/net.office.LOG"},
        {"/" + std::string(300, 'd') + "/map.db", "", ""},
        {stem + ".db", stem + ".INI", stem + ".LOG"},
        {stem + "y.db", "", ""},
        {"/d.x/" + std::string(247, 'f'), "", ""},
    };
    for (const Case& c : cases) {
        SelectMapFiles(c.map.c_str());
        EXPECT_EQ(settingsFiles.mapSettings, c.settings) << c.map;
        EXPECT_EQ(settingsFiles.mapLog, c.log) << c.map;
    }
    EXPECT_FALSE(WriteOptions(settingsFiles.mapSettings));

    settingsReports.mapFilesRefused = nullptr;
    const std::string tail = " is longer than 255 characters.";
    EXPECT_EQ(refusals,
              (std::vector<std::string>{"The map's settings and log are not kept: the path /" +
                                            std::string(300, 'd') + "/map.INI" + tail,
                                        "The map's settings and log are not kept: the path " +
                                            stem + "y.INI" + tail,
                                        "The map's settings and log are not kept: the path /d.x/" +
                                            std::string(247, 'f') + ".InI" + tail}));
}

TEST_F(SettingsTest, WriteOptionsSplitsBetweenTargets) {
    WriteWholeFile(dir_.file("TARNMAP.INI"), "");
    SelectMapFiles("m.db");
    options.pollInterval = 45;
    options.waitTimeout = 7000;
    options.noAutomaticChecks = 0;
    options.useRawIcmp = 1;
    options.scaledMapFont = 1;
    options.fitMap = 1;
    ASSERT_TRUE(WriteOptions(settingsFiles.mapSettings));
    EXPECT_EQ(ReadWholeFile(dir_.file("m.INI")),
              "[OPTS]\r\nFONT=1\r\nSOUND=1\r\nFIXFONT=1\r\nTIMER=45\r\nWAIT=7000\r\nICONS=1\r\n"
              "LABEL=1\r\nFIT=1\r\nNOCHECK=0\r\n");
    EXPECT_EQ(ReadWholeFile(dir_.file("TARNMAP.INI")),
              "[OPTS]\r\nTELNET=x-terminal-emulator -e telnet\r\nFTP=x-terminal-emulator -e "
              "ftp\r\nPING=1\r\nSHOW=1\r\nBACKGROUND=0\r\nMSICMP=1\r\nPARALLEL=0\r\n");
    options.fitMap = 0;
    SelectMapFiles("m.db");
    EXPECT_EQ(options.fitMap, 1u) << "FIT is the map's own";
}

TEST_F(SettingsTest, ColoursRoundTripAndBadIndicesFallBack) {
    WriteWholeFile(dir_.file("TARNMAP.INI"), "[COLORS]\r\nOK=99\r\nONE=3\r\n");
    ReadProgramOptions();
    Numbers colors(COLOR_SLOT_COUNT);
    ReadColors(colors.data());
    EXPECT_EQ(colors[0], 10u) << "an index past the palette is the default";
    EXPECT_EQ(colors[1], 3u);

    const Numbers chosen = {1, 2, 3, 4, 5, 6, 7, 8, 23, 9};
    ASSERT_TRUE(WriteColors(chosen.data()));
    ReadColors(colors.data());
    EXPECT_EQ(colors, chosen);
}

TEST_F(SettingsTest, WindowPositionWrapsNegativeCoordinates) {
    ReadProgramOptions();
    SaveWindowPosition({-4, -4, 1284, 1028});
    EXPECT_TRUE(Holds(ReadWholeFile(GlobalFile()), "LOC=4294967292,4294967292,1284,1028\r\n"));
    platform::RECT rect{};
    ASSERT_TRUE(RestoreWindowPosition(&rect));
    EXPECT_EQ((std::vector<long>{rect.left, rect.top, rect.right, rect.bottom}),
              (std::vector<long>{-4, -4, 1284, 1028}));

    for (const char* bad : {"10,20,300", "10,20,300,x", "", "a,b,c,d", "1;2;3;4"}) {
        platform::WritePrivateProfileString("OPTS", "LOC", bad, settingsFiles.global);
        EXPECT_FALSE(RestoreWindowPosition(&rect)) << bad;
    }
}

TEST_F(SettingsTest, HostSectionsAreFoundByNameInAnyCase) {
    ClearMap();
    AppendHost(0, 0);
    AppendHost(1, 1);
    AppendHost(2, 2);
    CopyField(hostTable[2].name, sizeof hostTable[2].name, "mail");
    WriteWholeFile(dir_.file("TARNMAP.INI"), "[OPTS]\r\nBEEP_NUMBER=5551234\r\n");
    WriteWholeFile(dir_.file("h.INI"),
                   "[MAIL]\r\nsound=3\r\nEXTERNAL=/usr/bin/notify x\r\nBEEP_EACH=1\r\n");
    SelectMapFiles("h.db");

    // Section and key match without regard to case.
    HostSettings alarm;
    ReadHostSettings(2, HostSettingsReader::Alarms, &alarm);
    EXPECT_EQ((Numbers{alarm.sound, alarm.log, alarm.beeper, alarm.beepEach, alarm.beepCount,
                       alarm.beepCode, alarm.beepPriority}),
              (Numbers{3, 1, 0, 1, 14, 2, 2}));
    EXPECT_STREQ(alarm.beepNumber, "");
    EXPECT_STREQ(alarm.external, "/usr/bin/notify x");

    // Hosts 0 and 1 share the name "newhost" and so one section.
    platform::WritePrivateProfileString("newhost", "BEEP_CODE", "77", settingsFiles.mapSettings);
    EXPECT_EQ(ReadHostSetting(0, "BEEP_CODE", HostSettingsReader::Alarms), 77u);
    EXPECT_EQ(ReadHostSetting(1, "BEEP_CODE", HostSettingsReader::Alarms), 77u);
    EXPECT_EQ(ReadHostSetting(1, "BEEP_PRIORITY", HostSettingsReader::Alarms), 1u);
}

} // namespace
