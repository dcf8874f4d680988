// The profile functions on real files: how values are found and read, what a write leaves
// in the file, and when a cached parse is used or thrown away.
#include "platform/profile.h"
#include "platform/testing_sys.h"
#include "support/tempdir.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;

namespace fs = std::filesystem;

namespace {

std::string Read(const char* section, const char* key, const std::string& file,
                 const char* defaultValue = "<none>") {
    char buffer[256];
    GetPrivateProfileString(section, key, defaultValue, buffer, sizeof buffer, file.c_str());
    return buffer;
}

// Each test's own directory, and settings files written there with the cache flushed.
class Profile : public testing::Test {
  protected:
    std::string Written(const char* name, const std::string& text) {
        WriteWholeFile(dir.file(name), text);
        FlushProfileCache();
        return dir.file(name);
    }
    TempDir dir;
};

} // namespace

TEST_F(Profile, FindsSectionsAndKeysWithoutRegardToCaseAndTrimsBlanks) {
    std::string file = Written("map.INI", "top=before any section\r\n"
                                          "[Opts]\r\n"
                                          "  Timer =  30  \r\n"
                                          "Telnet=\"x-terminal-emulator -e telnet\"\r\n"
                                          "half=\"open\r\n"
                                          ";Sound=0\r\n"
                                          "Label\r\n"
                                          "empty=\r\n"
                                          "timer=99\r\n"
                                          "[ gateway ]\r\n"
                                          "Log=0\r\n"
                                          "[OPTS]\r\n"
                                          "FONT=1\r\n");

    EXPECT_EQ(Read("OPTS", "TIMER", file), "30");
    EXPECT_EQ(Read("opts", "timer", file), "30") << "the first of two equal keys wins";
    EXPECT_EQ(Read("  oPtS ", " TiMeR", file), "30");
    EXPECT_EQ(Read("OPTS", "TELNET", file), "x-terminal-emulator -e telnet");
    EXPECT_EQ(Read("OPTS", "HALF", file), "\"open");
    EXPECT_EQ(Read("OPTS", "EMPTY", file), "");
    EXPECT_EQ(Read("GATEWAY", "LOG", file), "0");

    // Comments, lines without '=', keys outside any section and keys of a later section of
    // the same name are not found.
    EXPECT_EQ(Read("OPTS", "SOUND", file), "<none>");
    EXPECT_EQ(Read("OPTS", "LABEL", file), "<none>");
    EXPECT_EQ(Read("", "top", file), "<none>");
    EXPECT_EQ(Read("OPTS", "FONT", file), "<none>");

    EXPECT_EQ(Read("NOSUCH", "TIMER", file), "<none>");
    EXPECT_EQ(Read("OPTS", "TIMER", dir.file("missing.ini")), "<none>");
    EXPECT_EQ(Read("OPTS", "TIMER", dir.file("missing/dir/x.ini")), "<none>");
    EXPECT_EQ(Read("OPTS", "TIMER", dir.path()), "<none>") << "a directory reads as missing";
    EXPECT_EQ(Read("OPTS", "NOSUCH", file, nullptr), "");
    EXPECT_EQ(Read("OPTS", "NOSUCH", file, "telnet  "), "telnet");
}

TEST_F(Profile, CopiesAreCutToTheBufferAndCounted) {
    std::string file = Written("s.ini", "[HOST]\r\nEXTERNAL=0123456789\r\n");

    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetPrivateProfileString("HOST", "EXTERNAL", "", buffer, 5, file.c_str()), 4u);
    EXPECT_STREQ(buffer, "0123");
    EXPECT_EQ(buffer[5], 'x') << "nothing written past the given size";

    EXPECT_EQ(GetPrivateProfileString("HOST", "EXTERNAL", "", buffer, 1, file.c_str()), 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(GetPrivateProfileString("HOST", "NONE", "defaultvalue", buffer, 8, file.c_str()), 7u);
    EXPECT_STREQ(buffer, "default");
    EXPECT_EQ(GetPrivateProfileString("HOST", "EXTERNAL", "", buffer, 11, file.c_str()), 10u);
    EXPECT_STREQ(buffer, "0123456789");
}

TEST_F(Profile, IntegersReadTheLeadingDecimalNumberModulo32Bits) {
    // An empty value is taken as missing (Win32 behaviour), so a cleared number field keeps
    // its default instead of turning into 0.
    const struct {
        const char* line;
        unsigned value;
    } cases[] = {// clang-format off
        {"plain=42", 42}, {"plus=+17", 17}, {"minus=-4", 4294967292u},
        {"big=4294967292", 4294967292u}, {"wrap=4294967297", 1},
        {"lowwrap=-4294967297", 4294967295u}, {"blanks=   12 ", 12},
        {"trailing=42A94967297", 42}, {"nodigits=B12", 0}, {"signonly=-", 0},
        {"blanksign=- 5", 0}, {"quoted=\" 8\"", 8}, {"empty=", 7}, {"missing", 7}};
    // clang-format on
    std::string text = "[N]\n";
    for (const auto& each : cases)
        text += std::string(each.line) + "\n";
    std::string file = Written("s.ini", text);
    for (const auto& each : cases) {
        std::string key(each.line, std::strcspn(each.line, "="));
        EXPECT_EQ(GetPrivateProfileInt("n", key.c_str(), 7, file.c_str()), each.value) << each.line;
    }
    EXPECT_EQ(GetPrivateProfileInt("N", "missing", -1, file.c_str()), 4294967295u);
    EXPECT_EQ(GetPrivateProfileInt("N", "plain", 7, dir.file("none.ini").c_str()), 7u);
}

TEST_F(Profile, WriteChangesOnlyItsOwnLineAndKeepsEverythingElseByteForByte) {
    std::string file = Written("net.INI", "; settings of the office map\r\n"
                                          "garbage line without equals\r\n"
                                          "\r\n"
                                          "[Opts]\r\n"
                                          "  Timer = 60\r\n"
                                          "Sound=1\r\n"
                                          "; beeper settings follow\r\n"
                                          "\r\n"
                                          "\r\n"
                                          "[gateway]\r\n"
                                          "log=1\r\n"
                                          "[OPTS]\r\n"
                                          "timer=5\r\n");

    ASSERT_TRUE(WritePrivateProfileString("OPTS", "TIMER", "120", file.c_str()));
    ASSERT_TRUE(WritePrivateProfileString("opts", "WAIT", "5000", file.c_str()));
    ASSERT_TRUE(WritePrivateProfileString("GATEWAY", "LOG", nullptr, file.c_str()));
    ASSERT_TRUE(WritePrivateProfileString("GATEWAY", "SOUND", "2", file.c_str()));
    ASSERT_TRUE(WritePrivateProfileString("COLORS", "OK", "10", file.c_str()));
    ASSERT_TRUE(WritePrivateProfileString("COLORS", "ONE", "11", file.c_str()));

    EXPECT_EQ(ReadWholeFile(file), "; settings of the office map\r\n"
                                   "garbage line without equals\r\n"
                                   "\r\n"
                                   "[Opts]\r\n"
                                   "  Timer =120\r\n"
                                   "Sound=1\r\n"
                                   "WAIT=5000\r\n"
                                   "; beeper settings follow\r\n"
                                   "\r\n"
                                   "\r\n"
                                   "[gateway]\r\n"
                                   "SOUND=2\r\n"
                                   "[OPTS]\r\n"
                                   "timer=5\r\n"
                                   "\r\n"
                                   "[COLORS]\r\n"
                                   "OK=10\r\n"
                                   "ONE=11\r\n");

    // What was written reads back, from the cache and from a fresh parse alike.
    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(GetPrivateProfileInt("OPTS", "TIMER", 0, file.c_str()), 120u);
        EXPECT_EQ(GetPrivateProfileInt("OPTS", "WAIT", 0, file.c_str()), 5000u);
        EXPECT_EQ(GetPrivateProfileInt("GATEWAY", "LOG", 9, file.c_str()), 9u);
        EXPECT_EQ(Read("colors", "one", file), "11");
        FlushProfileCache();
    }

    // Deleting what is not there changes nothing, and creates no file.
    std::string before = ReadWholeFile(file);
    EXPECT_TRUE(WritePrivateProfileString("OPTS", "NOSUCH", nullptr, file.c_str()));
    EXPECT_TRUE(WritePrivateProfileString("NOSUCH", "KEY", nullptr, file.c_str()));
    EXPECT_EQ(ReadWholeFile(file), before);
    EXPECT_TRUE(WritePrivateProfileString("OPTS", "KEY", nullptr, dir.file("new.ini").c_str()));
    EXPECT_FALSE(fs::exists(dir.file("new.ini")));
}

TEST_F(Profile, LfFilesReadLikeCrlfFilesAndAreRewrittenWithCrlf) {
    std::string lf = Written("lf.ini", "[A]\nx= one \ny=2\n[B]\nz=3");
    std::string crlf = Written("crlf.ini", "[A]\r\nx= one \r\ny=2\r\n[B]\r\nz=3");
    for (const char* key : {"x", "y"})
        EXPECT_EQ(Read("A", key, lf), Read("A", key, crlf));
    EXPECT_EQ(Read("A", "x", lf), "one");
    EXPECT_EQ(Read("B", "z", lf), "3") << "a last line without a line end counts";

    ASSERT_TRUE(WritePrivateProfileString("B", "w", "4", lf.c_str()));
    EXPECT_EQ(ReadWholeFile(lf), "[A]\r\nx= one \r\ny=2\r\n[B]\r\nz=3\r\nw=4\r\n");
}

TEST_F(Profile, WriteCreatesTheFileItsDirectoriesAndTheSection) {
    std::string file = dir.file("config/tarnmap/TARNMAP.INI");
    ASSERT_TRUE(WritePrivateProfileString("OPTS", "SOUND", "1", file.c_str()));
    ASSERT_TRUE(WritePrivateProfileString("OPTS", "LOC", "10,20,630,470", file.c_str()));
    EXPECT_EQ(ReadWholeFile(file), "[OPTS]\r\nSOUND=1\r\nLOC=10,20,630,470\r\n");
    EXPECT_EQ(EntriesIn(dir.file("config/tarnmap")), 1) << "no temporary file left behind";

    // Relative paths work from the current directory.
    TempDir entered(true);
    ASSERT_TRUE(WritePrivateProfileString("X", "Y", "z", "plain.ini"));
    EXPECT_EQ(ReadWholeFile(entered.file("plain.ini")), "[X]\r\nY=z\r\n");
}

TEST_F(Profile, ParseIsReusedUntilTheFileChangesOrForAGroupOfReads) {
    std::string file = Written("map.ini", "[HOST]\r\nSOUND=1\r\nLOG=1\r\n");

    unsigned start = ProfileParseCount();
    EXPECT_EQ(GetPrivateProfileInt("HOST", "SOUND", 9, file.c_str()), 1u);
    EXPECT_EQ(GetPrivateProfileInt("HOST", "LOG", 9, file.c_str()), 1u);
    EXPECT_EQ(Read("HOST", "BEEPER", file), "<none>");
    EXPECT_EQ(ProfileParseCount(), start + 1);

    // Rewritten by someone else with another size.
    WriteWholeFile(file, "[HOST]\r\nSOUND=22\r\nLOG=1\r\n");
    EXPECT_EQ(GetPrivateProfileInt("HOST", "SOUND", 9, file.c_str()), 22u);
    EXPECT_EQ(ProfileParseCount(), start + 2);

    // Same size, rewritten in place, with a different modification time.
    auto modified = fs::last_write_time(file);
    WriteWholeFile(file, "[HOST]\r\nSOUND=33\r\nLOG=1\r\n");
    fs::last_write_time(file, modified + std::chrono::seconds(5));
    EXPECT_EQ(GetPrivateProfileInt("HOST", "SOUND", 9, file.c_str()), 33u);
    EXPECT_EQ(ProfileParseCount(), start + 3);

    // Our own write updates the cache without another parse.
    ASSERT_TRUE(WritePrivateProfileString("host", "BEEPER", "1", file.c_str()));
    EXPECT_EQ(GetPrivateProfileInt("HOST", "BEEPER", 9, file.c_str()), 1u);
    EXPECT_EQ(GetPrivateProfileInt("HOST", "SOUND", 9, file.c_str()), 33u);
    EXPECT_EQ(ProfileParseCount(), start + 3);

    // A group of reads looks at the file once: a change from outside shows after it ends,
    // our own write at once.
    BeginProfileReads();
    EXPECT_EQ(GetPrivateProfileInt("HOST", "SOUND", 9, file.c_str()), 33u);
    WriteWholeFile(file, "[HOST]\r\nSOUND=444\r\nLOG=1\r\nBEEPER=1\r\n");
    EXPECT_EQ(GetPrivateProfileInt("HOST", "SOUND", 9, file.c_str()), 33u);
    ASSERT_TRUE(WritePrivateProfileString("host", "LOG", "5", file.c_str()));
    EXPECT_EQ(GetPrivateProfileInt("HOST", "SOUND", 9, file.c_str()), 444u) << "read to write";
    EXPECT_EQ(GetPrivateProfileInt("HOST", "LOG", 9, file.c_str()), 5u);
    WriteWholeFile(file, "[HOST]\r\nSOUND=4444\r\n");
    EndProfileReads();
    EXPECT_EQ(GetPrivateProfileInt("HOST", "SOUND", 9, file.c_str()), 4444u);
    std::string later = dir.file("later.ini");
    BeginProfileReads(); // and a missing file stays missing for the group, unless we write it
    EXPECT_EQ(GetPrivateProfileInt("HOST", "SOUND", 9, later.c_str()), 9u);
    WriteWholeFile(later, "[HOST]\r\nSOUND=7\r\n");
    EXPECT_EQ(GetPrivateProfileInt("HOST", "SOUND", 9, later.c_str()), 9u);
    ASSERT_TRUE(WritePrivateProfileString("HOST", "LOG", "8", later.c_str()));
    EXPECT_EQ(GetPrivateProfileInt("HOST", "SOUND", 9, later.c_str()), 7u);
    EndProfileReads();
    // A group taken up again sees the file as at its first look in each turn, and reads
    // between its turns look again.
    unsigned resumed = NewProfileReadGroup();
    ResumeProfileReads(resumed);
    EXPECT_EQ(GetPrivateProfileInt("HOST", "SOUND", 9, file.c_str()), 4444u);
    EndProfileReads();
    WriteWholeFile(file, "[HOST]\r\nSOUND=55555\r\n");
    ResumeProfileReads(resumed);
    EXPECT_EQ(GetPrivateProfileInt("HOST", "SOUND", 9, file.c_str()), 4444u);
    EndProfileReads();
    EXPECT_EQ(GetPrivateProfileInt("HOST", "SOUND", 9, file.c_str()), 55555u);

    // Removed from outside: defaults again.
    fs::remove(file);
    EXPECT_EQ(GetPrivateProfileInt("HOST", "SOUND", 9, file.c_str()), 9u);

    WriteWholeFile(file, "[HOST]\r\nSOUND=3\r\n");
    FlushProfileCache();
    EXPECT_EQ(GetPrivateProfileInt("HOST", "SOUND", 9, file.c_str()), 3u);
    EXPECT_EQ(ProfileParseCount(), start + 8);
}

TEST_F(Profile, FailedWriteLeavesTheOldFileWhole) {
    const std::string original = "[OPTS]\r\nTIMER=60\r\n";
    std::string file = Written("map.ini", original);
    EXPECT_EQ(GetPrivateProfileInt("OPTS", "TIMER", 0, file.c_str()), 60u);

    // A file size limit makes the write of the temporary file fail half-way (this fails
    // for root too, unlike permissions).
    std::string longValue(4000, 'v');
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool written = WritePrivateProfileString("OPTS", "EXTERNAL", longValue.c_str(), file.c_str());
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(ReadWholeFile(file), original);
    EXPECT_EQ(EntriesIn(dir.path()), 1) << "the temporary file is removed";
    EXPECT_EQ(GetPrivateProfileInt("OPTS", "TIMER", 0, file.c_str()), 60u);
    EXPECT_EQ(Read("OPTS", "EXTERNAL", file), "<none>");

    // The path's directory is a file: nothing can be created.
    std::string blocked = dir.file("map.ini/sub/x.ini");
    EXPECT_FALSE(WritePrivateProfileString("OPTS", "TIMER", "1", blocked.c_str()));
    EXPECT_EQ(ReadWholeFile(file), original);

    // The path names a directory: it is refused and nothing is left behind.
    fs::create_directory(dir.file("folder.ini"));
    EXPECT_FALSE(WritePrivateProfileString("OPTS", "TIMER", "1", dir.file("folder.ini").c_str()));
    EXPECT_TRUE(fs::is_directory(dir.file("folder.ini")));
    EXPECT_EQ(EntriesIn(dir.path()), 2);
}

TEST_F(Profile, ReplacementKeepsPermissionsAndFollowsSymbolicLinks) {
    std::string file = Written("map.ini", "[OPTS]\r\nTIMER=60\r\n");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    ASSERT_TRUE(WritePrivateProfileString("OPTS", "TIMER", "30", file.c_str()));
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::mask,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    std::string link = dir.file("link.ini");
    fs::create_symlink(file, link);
    ASSERT_TRUE(WritePrivateProfileString("OPTS", "WAIT", "1000", link.c_str()));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadWholeFile(file), "[OPTS]\r\nTIMER=30\r\nWAIT=1000\r\n");
    EXPECT_EQ(GetPrivateProfileInt("OPTS", "TIMER", 0, link.c_str()), 30u);
}

TEST_F(Profile, ValuesReadBackAsWrittenAndWritesThatCouldNotAreRefused) {
    const std::string original = "[OPTS]\r\nTIMER=60\r\n";
    std::string file = Written("map.ini", original);
    const char* f = file.c_str();

    const char* refused[][3] = {{"OPTS", "A=B", "1"},
                                {"OPTS", "  ", "1"},
                                {"OPTS", ";KEY", "1"},
                                {"OPTS", "[KEY", "1"},
                                {"OPTS", "TIMER", "1\r\n[EVIL]\r\nX=1"},
                                {"OP\nTS", "TIMER", "1"},
                                {nullptr, "TIMER", "1"},
                                {"OPTS", nullptr, "1"}};
    for (const auto& write : refused)
        EXPECT_FALSE(WritePrivateProfileString(write[0], write[1], write[2], f))
            << (write[1] != nullptr ? write[1] : "null key");
    EXPECT_EQ(ReadWholeFile(file), original);

    // A section name with brackets in it still reads back.
    ASSERT_TRUE(WritePrivateProfileString("a]b[c", "LOG", "0", f));
    EXPECT_EQ(GetPrivateProfileInt("A]B[C", "LOG", 1, f), 0u);

    // Values the reader would trim or unquote are stored in one more pair of quotes, both
    // as a new key and over an old one; the others are stored as they are.
    for (const char* key : {"NEW1", "NEW2"})
        for (const char* value : {"\"/opt/My Term/term\" -e \"telnet\"", "  padded\t", "\"\"", "\"",
                                  " ", "plain \"quoted\""}) {
            SCOPED_TRACE(value);
            ASSERT_TRUE(WritePrivateProfileString("OPTS", key, value, f));
            EXPECT_EQ(Read("OPTS", key, file), value);
            FlushProfileCache();
            EXPECT_EQ(Read("OPTS", key, file), value);
        }
    EXPECT_TRUE(Holds(ReadWholeFile(file), "\r\nNEW2=plain \"quoted\"\r\n"));
    ASSERT_TRUE(WritePrivateProfileString("OPTS", "NEW1", "\"/My Scripts/page.sh\"", f));
    EXPECT_TRUE(Holds(ReadWholeFile(file), "\r\nNEW1=\"\"/My Scripts/page.sh\"\"\r\n"));
}

TEST_F(Profile, TwoProgramsWritingOneFileKeepEachOthersKeys) {
    std::string file = Written("TARNMAP.INI", "[OPTS]\r\nTIMER=60\r\n");
    // Two processes, released together, each writing 50 keys of its own into one section.
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    pid_t writers[2];
    for (int writer = 0; writer < 2; ++writer) {
        writers[writer] = fork();
        ASSERT_GE(writers[writer], 0);
        if (writers[writer] == 0) {
            char go;
            close(start[1]);
            bool good = read(start[0], &go, 1) == 0;
            for (int key = 0; key < 50 && good; ++key) {
                std::string name = "K" + std::to_string(writer) + "_" + std::to_string(key);
                good = WritePrivateProfileString("OPTS", name.c_str(), "1", file.c_str());
            }
            _exit(good ? 0 : 1);
        }
    }
    close(start[0]);
    close(start[1]); // both read the end of the pipe at once
    for (pid_t writer : writers) {
        int status = -1;
        ASSERT_EQ(waitpid(writer, &status, 0), writer);
        EXPECT_EQ(status, 0);
    }
    FlushProfileCache();
    int missing = 0;
    for (int writer = 0; writer < 2; ++writer)
        for (int key = 0; key < 50; ++key) {
            std::string name = "K" + std::to_string(writer) + "_" + std::to_string(key);
            missing += GetPrivateProfileInt("OPTS", name.c_str(), 0, file.c_str()) == 1 ? 0 : 1;
        }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(GetPrivateProfileInt("OPTS", "TIMER", 0, file.c_str()), 60u);
    EXPECT_EQ(EntriesIn(dir.path()), 1);
}
