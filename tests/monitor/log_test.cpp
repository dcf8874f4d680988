// The log line as it lands in the map's .LOG file.
#include "model/settings.h"
#include "monitor/log.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace {

TEST(Log, DatedLinesAreAppendedWithCrLfCutAndDroppedWhenUnwritable) {
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
