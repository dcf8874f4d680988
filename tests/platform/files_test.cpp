// Atomic file replacement: contents, permissions, links, and what a failure leaves behind.
#include "platform/files.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

int EntriesIn(const std::string& directory) {
    int entries = 0;
    for (const auto& entry : fs::directory_iterator(directory)) {
        (void)entry;
        ++entries;
    }
    return entries;
}

} // namespace

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
}
