// The log line as it lands in the map's .LOG file.
#include "model/settings.h"
#include "monitor/log.h"
#include "support/small_disk.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

// The local time of this moment as the log writes it: "MM/DD/YY HH:MM:SS".
std::string LocalStamp(std::time_t moment) {
    std::tm local{};
    localtime_r(&moment, &local);
    char text[32];
    std::strftime(text, sizeof text, "%m/%d/%y %H:%M:%S", &local);
    return text;
}

TEST(Log, DatedLinesAreAppendedWithCrLfCutAndDroppedWhenUnwritable) {
    TempDir dir;
    std::string path = dir.file("map.LOG");
    snprintf(settingsFiles.mapLog, sizeof settingsFiles.mapLog, "%s", path.c_str());
    std::time_t started = std::time(nullptr);
    LogLine("first");
    std::time_t ended = std::time(nullptr);
    LogPrintf("%s [%s] down, %s", "gateway", "10.0.0.1", "Timed out");
    std::string text = ReadWholeFile(path);
    std::regex twoLines(
        R"((\d\d/\d\d/\d\d \d\d:\d\d:\d\d) first\r\n)"
        R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d gateway \[10\.0\.0\.1\] down, Timed out\r\n)");
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(text, parts, twoLines)) << text;
    // The stamp is the local time of the write, month first.
    std::set<std::string> during;
    for (std::time_t moment = started; moment <= ended; ++moment)
        during.insert(LocalStamp(moment));
    EXPECT_EQ(during.count(parts[1]), 1u) << parts[1] << " not within " << *during.begin();

    // Long messages are cut; unwritable files are ignored.
    std::size_t before = text.size();
    LogPrintf("%s", std::string(700, 'x').c_str());
    text = ReadWholeFile(path);
    EXPECT_EQ(text.size(), before + 18u + LOG_MESSAGE_LENGTH + 2);

    snprintf(settingsFiles.mapLog, sizeof settingsFiles.mapLog, "%s",
             dir.file("missing/dir/map.LOG").c_str());
    LogLine("dropped"); // must neither crash nor create anything
    settingsFiles.mapLog[0] = '\0';
    LogLine("dropped too");
    EXPECT_EQ(ReadWholeFile(path), text);
}

TEST(Log, AFullDiskLosesWholeLinesOnlyAndSaysSoOnce) {
    SmallDisk disk(16);
    SKIP_WITHOUT_SMALL_DISK(disk);
    static std::vector<std::string> told;
    told.clear();
    logFailureReport = [](const char* text) { told.push_back(text); };
    std::string path = disk.file("map.LOG");
    snprintf(settingsFiles.mapLog, sizeof settingsFiles.mapLog, "%s", path.c_str());
    LogLine("before the disk filled up");
    disk.Fill();
    // The log's last page takes some more lines; one of them breaks off at the page's end.
    for (int line = 0; line < 200; ++line)
        LogPrintf("host%03d [10.0.0.%d] down, Timed out", line, line % 250);
    disk.Free();
    LogLine("after space was freed");
    disk.Fill();
    LogLine("lost again");
    disk.Free();
    logFailureReport = nullptr;
    settingsFiles.mapLog[0] = '\0';

    std::string text = ReadWholeFile(path);
    std::regex wholeLines(
        R"((\d\d/\d\d/\d\d \d\d:\d\d:\d\d (before the disk filled up|)"
        R"(host\d\d\d \[10\.0\.0\.\d+\] down, Timed out|after space was freed)\r\n)+)");
    EXPECT_TRUE(std::regex_match(text, wholeLines)) << text.substr(text.size() - 200);
    EXPECT_TRUE(Holds(text, "before the disk filled up"));
    EXPECT_TRUE(Holds(text, "after space was freed\r\n"));
    EXPECT_FALSE(Holds(text, "host199"));
    std::string reason =
        " The log " + path + " cannot be written (No space left on device); its lines are lost.";
    EXPECT_EQ(told, (std::vector<std::string>{reason, reason}))
        << "once when lines are first lost, once more after a line was written again";
}

} // namespace
