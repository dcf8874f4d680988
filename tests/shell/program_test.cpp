// The tarnmap program itself, started as a user starts it: on the example map, with no
// display but the offscreen one, ended by Exit's signal or by a wrong command line.
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

struct Child {
    pid_t pid = -1;
    int status = 0;
};

// Starts the program in `directory` with `arguments`, its output to `output`.
Child StartProgram(const std::string& directory, const std::vector<std::string>& arguments,
                   const std::string& output) {
    Child child;
    child.pid = fork();
    if (child.pid == 0) {
        if (chdir(directory.c_str()) != 0)
            _exit(126);
        FILE* out = freopen(output.c_str(), "w", stdout);
        if (out == nullptr || dup2(fileno(stdout), 2) < 0)
            _exit(126);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("XDG_CONFIG_HOME", (directory + "/config").c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(TARNMAP_BINARY)};
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(TARNMAP_BINARY, argv.data());
        _exit(127);
    }
    return child;
}

// Waits (bounded) for the child to end; false when it is still running.
bool WaitForExit(Child& child, int seconds) {
    for (int i = 0; i < seconds * 100; ++i) {
        if (waitpid(child.pid, &child.status, WNOHANG) == child.pid)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool WaitForText(const std::string& path, const std::string& text, int seconds) {
    for (int i = 0; i < seconds * 100; ++i) {
        if (ReadWholeFile(path).find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class ProgramTest : public testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"office.db", "office.INI"})
            WriteWholeFile(dir_.file(name),
                           ReadWholeFile(std::string(TARNMAP_SOURCE_DIR) + "/examples/" + name));
    }
    TempDir dir_;
};

TEST_F(ProgramTest, StartsOnTheExampleMapAndEndsCleanlyOnTermination) {
    for (int signal : {SIGTERM, SIGINT}) {
        Child child = StartProgram(dir_.path(), {"office.db"}, dir_.file("output.txt"));
        ASSERT_GT(child.pid, 0);
        ASSERT_TRUE(WaitForText(dir_.file("office.LOG"), "open of database office.db", 20))
            << ReadWholeFile(dir_.file("output.txt"));
        kill(child.pid, signal);
        bool ended = WaitForExit(child, 20);
        if (!ended)
            kill(child.pid, SIGKILL);
        ASSERT_TRUE(ended) << "signal " << signal;
        ASSERT_TRUE(WIFEXITED(child.status));
        EXPECT_EQ(WEXITSTATUS(child.status), 0);
        std::remove(dir_.file("office.LOG").c_str());
    }
}

TEST_F(ProgramTest, HelpAndBadArguments) {
    Child child = StartProgram(dir_.path(), {"--help"}, dir_.file("help.txt"));
    ASSERT_TRUE(WaitForExit(child, 20));
    EXPECT_EQ(WEXITSTATUS(child.status), 0);
    EXPECT_NE(ReadWholeFile(dir_.file("help.txt")).find("Usage: tarnmap"), std::string::npos);

    child = StartProgram(dir_.path(), {"--bogus"}, dir_.file("bogus.txt"));
    ASSERT_TRUE(WaitForExit(child, 20));
    EXPECT_EQ(WEXITSTATUS(child.status), 2);

    // A map path longer than a map path can hold is refused with a message, not cut.
    std::string longPath(200, 'm');
    child = StartProgram(dir_.path(), {longPath + ".db"}, dir_.file("long.txt"));
    EXPECT_TRUE(WaitForText(dir_.file("long.txt"), "cannot be opened", 20));
    kill(child.pid, SIGTERM);
    ASSERT_TRUE(WaitForExit(child, 20));
    EXPECT_EQ(ReadWholeFile(dir_.file("long.txt")).find("open of database"), std::string::npos);
}

} // namespace
