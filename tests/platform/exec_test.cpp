// Programs started by WinExec: words as the program sees them, no shell, no zombies.
#include "platform/exec.h"
#include "platform/messages.h"
#include "platform/testing_sys.h"
#include "support/netns.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using platform::WinExec;

TEST(Exec, SplitsWordsByBlanksAndDoubleQuotesOnly) {
    const char* line = R"(  prog "two words" a;rm -rf x  mid"dle q"uote "" end)";
    std::vector<char> storage(std::string(line).size() + 1);
    char* words[16];
    int count = platform::SplitCommandLine(line, storage.data(), words, 16);
    ASSERT_GE(count, 0);
    EXPECT_EQ(std::vector<std::string>(words, words + count),
              (std::vector<std::string>{"prog", "two words", "a;rm", "-rf", "x", "middle quote", "",
                                        "end"}));
    EXPECT_EQ(platform::SplitCommandLine("   ", storage.data(), words, 16), 0);
}

TEST(Exec, StartsTheProgramWithItsArgumentsAndNoShell) {
    TempDir dir;
    std::string script = WriteArgumentsScript(dir.file("alarm.sh"));

    platform::EnableJournal(true);
    platform::ClearJournal();
    std::string line = script + " DN \"a;rm -rf " + dir.file("victim") + "\" 7 $HOME";
    WriteWholeFile(dir.file("victim"), "still here");
    EXPECT_GT(WinExec(line.c_str(), platform::SW_SHOWMINNOACTIVE), 31u);
    EXPECT_EQ(TakeScriptOutput(script), "<DN><a;rm -rf " + dir.file("victim") + "><7><$HOME>\n");
    EXPECT_EQ(ReadWholeFile(dir.file("victim")), "still here");

    // Arguments after the command line's words are passed as they stand, blanks, quotes
    // and all; with no command line the first names the program.
    const char* extra[] = {"1 --evil x", "\"q\"", ""};
    EXPECT_GT(platform::WinExecWithArguments((script + " UP").c_str(), extra, 3, platform::SW_SHOW),
              31u);
    EXPECT_EQ(TakeScriptOutput(script), "<UP><1 --evil x><\"q\"><>\n");
    const char* whole[] = {script.c_str(), "a b"};
    EXPECT_GT(platform::WinExecWithArguments("", whole, 2, platform::SW_SHOW), 31u);
    EXPECT_EQ(TakeScriptOutput(script), "<a b>\n");
    EXPECT_EQ(
        platform::JournalEntries(),
        (std::vector<std::string>{"exec: " + line, "exec: " + script + " UP 1 --evil x \"q\" ",
                                  "exec: " + script + " a b"}));
    platform::EnableJournal(false);
}

TEST(Exec, ReportsMissingProgramsAndLeavesNoZombies) {
    EXPECT_EQ(WinExec("/nonexistent/program arg", platform::SW_SHOW),
              platform::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(WinExec("no-such-program-anywhere", platform::SW_SHOW),
              platform::ERROR_FILE_NOT_FOUND);
    EXPECT_STREQ(platform::ExecErrorText(platform::ERROR_FILE_NOT_FOUND), "no such program");
    EXPECT_EQ(WinExec("", platform::SW_SHOW), 0u);
    EXPECT_FALSE(platform::ProgramExists("no-such-program-anywhere"));
    EXPECT_FALSE(platform::ProgramExists("/etc/passwd")) << "not executable";
    EXPECT_TRUE(platform::ProgramExists("true"));

    // Each program is reaped on its own, also one that ends before WinExec returns: no
    // zombie may wait for the next program to be started.
    auto zombies = [] {
        long count = -1;
        for (int i = 0; i < 3000 && count != 0; ++i) {
            platform::MSG message{};
            platform::PeekMessage(&message, 0, 0, 0, platform::PM_NOREMOVE);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            count = CountZombieChildren(getpid());
        }
        return count;
    };
    for (int program = 0; program < 40; ++program) {
        ASSERT_GT(WinExec("true", platform::SW_SHOW), 31u);
        ASSERT_EQ(zombies(), 0) << "program " << program;
    }
    // However many started programs go on running, the next start never waits for one.
    for (int program = 0; program < 140; ++program) {
        const auto start = std::chrono::steady_clock::now();
        ASSERT_GT(WinExec("sleep 1", platform::SW_SHOW), 31u);
        ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << program;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(zombies(), 0);
}

} // namespace
