// Atomic file replacement: contents, permissions, owners, links, and what a failure or a
// killed writer leaves behind.
#include "platform/files.h"
#include "platform/profile.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

TEST(ReplaceFileAtomically, ReplacesContentsAndKeepsPermissionsAndLinks) {
    TempDir dir;
    std::string path = dir.file("map.db");

    ASSERT_TRUE(platform::ReplaceFileAtomically(path.c_str(), "first\r\n", 7));
    EXPECT_EQ("first\r\n", ReadWholeFile(path));

    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(platform::ReplaceFileAtomically(path.c_str(), "second", 6));
    EXPECT_EQ("second", ReadWholeFile(path));
    EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
              fs::status(path).permissions());

    // Saved by root, a map keeps its owner and group.
    if (geteuid() == 0) {
        ASSERT_EQ(chown(path.c_str(), 1234, 5678), 0);
        ASSERT_TRUE(platform::ReplaceFileAtomically(path.c_str(), "owned", 5));
        struct stat owner {};
        ASSERT_EQ(stat(path.c_str(), &owner), 0);
        EXPECT_EQ(owner.st_uid, 1234u);
        EXPECT_EQ(owner.st_gid, 5678u);
    }

    // Saving through a link changes the file it points to and keeps the link.
    std::string link = dir.file("link.db");
    fs::create_symlink("map.db", link);
    ASSERT_TRUE(platform::ReplaceFileAtomically(link.c_str(), "third", 5));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ("third", ReadWholeFile(path));

    // An empty file is a file too.
    ASSERT_TRUE(platform::ReplaceFileAtomically(path.c_str(), nullptr, 0));
    EXPECT_EQ(0u, fs::file_size(path));
    EXPECT_EQ(2, EntriesIn(dir.path()));
}

TEST(ReplaceFileAtomically, FailuresLeaveEverythingAsItWas) {
    TempDir dir;
    EXPECT_FALSE(platform::ReplaceFileAtomically("", "x", 1));
    EXPECT_FALSE(platform::ReplaceFileAtomically(dir.file("none/map.db").c_str(), "x", 1));

    std::string folder = dir.file("folder");
    fs::create_directory(folder);
    EXPECT_FALSE(platform::ReplaceFileAtomically(folder.c_str(), "x", 1));
    EXPECT_TRUE(fs::is_directory(folder));

    std::string dangling = dir.file("dangling.db");
    fs::create_symlink("nowhere/map.db", dangling);
    EXPECT_FALSE(platform::ReplaceFileAtomically(dangling.c_str(), "x", 1));
    EXPECT_TRUE(fs::is_symlink(dangling));
    EXPECT_EQ(2, EntriesIn(dir.path()));

    // A file made read-only stays as it is for a user who may write its directory, maps
    // and settings files alike; root passes that check, so root writes as the user nobody.
    std::string readOnly = dir.file("kept.db"), settings = dir.file("kept.INI");
    WriteWholeFile(readOnly, "V1\r\n");
    WriteWholeFile(settings, "[OPTS]\r\nTIMER=15\r\n");
    const bool root = geteuid() == 0;
    for (const std::string& file : {dir.path(), readOnly, settings})
        ASSERT_TRUE(!root || chown(file.c_str(), 65534, 65534) == 0);
    fs::permissions(readOnly, fs::perms::owner_read);
    fs::permissions(settings, fs::perms::owner_read);
    pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        if (root && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        errno = 0;
        bool refused =
            !platform::ReplaceFileAtomically(readOnly.c_str(), "x", 1) && errno == EACCES &&
            !platform::WritePrivateProfileString("OPTS", "TIMER", "99", settings.c_str());
        // Its own new file in that directory it may still write.
        _exit(refused && platform::ReplaceFileAtomically(dir.file("new.db").c_str(), "x", 1) ? 0
                                                                                             : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(ReadWholeFile(readOnly), "V1\r\n");
    EXPECT_EQ(ReadWholeFile(settings), "[OPTS]\r\nTIMER=15\r\n");
}

TEST(ReplaceFileAtomically, WritersKilledDuringSavesLeaveNoTemporaryFiles) {
    TempDir dir;
    std::string map = dir.file("net.db");
    std::string settings = dir.file("net.INI");
    std::string contents(64 * 1024, 'H');
    std::mt19937 random(7);
    for (int kill = 0; kill < 60; ++kill) {
        pid_t writer = fork();
        ASSERT_GE(writer, 0);
        if (writer == 0) {
            for (unsigned serial = 0;; ++serial) {
                platform::ReplaceFileAtomically(map.c_str(), contents.data(), contents.size());
                platform::WritePrivateProfileString(
                    "OPTS", "SERIAL", std::to_string(serial).c_str(), settings.c_str());
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        ::kill(writer, SIGKILL);
        ASSERT_EQ(waitpid(writer, nullptr, 0), writer);
    }
    // What a killed writer of an older kind left, and one of a live process (init's).
    pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    waitpid(gone, nullptr, 0);
    std::string goneFile = dir.file(".tarnmap-" + std::to_string(gone) + "-3.tmp");
    std::string goneOld = dir.file(".net.INI.tmp-" + std::to_string(gone) + "-9");
    std::string alive = dir.file(".tarnmap-1-3.tmp");
    for (const std::string& name : {goneFile, goneOld, alive})
        WriteWholeFile(name, "half");

    // This program's next save in the directory clears up after the dead ones.
    ASSERT_TRUE(platform::WritePrivateProfileString("OPTS", "TIMER", "30", settings.c_str()));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".tarnmap-1-3.tmp", "net.INI", "net.db"}));
    EXPECT_EQ(ReadWholeFile(map), contents);
}
