// The log line as it lands in the map's .LOG file.
#include "model/settings.h"
#include "monitor/log.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace {

TEST(Log, DatedLinesAreAppendedWithCrLf) {
    TempDir dir;
    std::string path = dir.file("map.LOG");
    snprintf(mapLogPath, sizeof mapLogPath, "%s", path.c_str());
    LogLine("first");
    LogPrintf("%s [%s] down, %s", "gateway", "10.0.0.1", "Timed out");
    std::string text = ReadWholeFile(path);
    std::regex twoLines(
        R"((\d\d)/(\d\d)/(\d\d) (\d\d):(\d\d):(\d\d) first\r\n)"
        R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d gateway \[10\.0\.0\.1\] down, Timed out\r\n)");
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(text, parts, twoLines)) << text;
    EXPECT_GE(std::stoi(parts[1]), 1);
    EXPECT_LE(std::stoi(parts[1]), 12);
    EXPECT_LE(std::stoi(parts[4]), 23);
}

TEST(Log, LongMessagesAreCutAndUnwritableFilesIgnored) {
    TempDir dir;
    std::string path = dir.file("map.LOG");
    snprintf(mapLogPath, sizeof mapLogPath, "%s", path.c_str());
    std::string longText(700, 'x');
    LogPrintf("%s", longText.c_str());
    std::string text = ReadWholeFile(path);
    EXPECT_EQ(text.size(), 18u + LOG_MESSAGE_LENGTH + 2);

    snprintf(mapLogPath, sizeof mapLogPath, "%s", dir.file("missing/dir/map.LOG").c_str());
    LogLine("dropped"); // must neither crash nor create anything
    mapLogPath[0] = '\0';
    LogLine("dropped too");
    EXPECT_EQ(ReadWholeFile(path), text);
}

} // namespace
