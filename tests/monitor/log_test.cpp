// The log line as it lands in the map's .LOG file.
#include "model/settings.h"
#include "monitor/log.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <ctime>
#include <regex>
#include <set>
#include <string>

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
    snprintf(mapLogPath, sizeof mapLogPath, "%s", path.c_str());
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

    snprintf(mapLogPath, sizeof mapLogPath, "%s", dir.file("missing/dir/map.LOG").c_str());
    LogLine("dropped"); // must neither crash nor create anything
    mapLogPath[0] = '\0';
    LogLine("dropped too");
    EXPECT_EQ(ReadWholeFile(path), text);
}

} // namespace
