// Alarm sounds: where a sound's file is found, and what is played, looped, replaced and
// stopped. A machine without an audio device hears nothing, so the journal and the
// lookup are what the tests hold exact.
#include "platform/sound.h"
#include "platform/system.h"
#include "platform/testing_sys.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace platform;

std::string Found(const char* name) {
    char path[4096];
    return FindSoundFile(name, path, sizeof path) ? std::string(path) : std::string("(none)");
}

TEST(Sound, LooksInTheCurrentDirectoryThenBesideTheMapThenAmongTheInstalledSounds) {
    TempDir work(true);
    TempDir map;
    char data[4096];
    ASSERT_NE(GetDataDirectory(data, sizeof data), 0u);
    std::string installed = std::string(data) + "/sounds/up.wav";
    ASSERT_TRUE(FileExists(installed.c_str())) << installed;
    std::string wave = ReadWholeFile(installed);

    SetMapSoundDirectory("");
    EXPECT_EQ(Found("up.wav"), installed);
    for (const char* name : {"down1.wav", "down2.wav", "down3.wav"})
        EXPECT_EQ(Found(name), std::string(data) + "/sounds/" + name);

    WriteWholeFile(map.file("up.wav"), wave);
    SetMapSoundDirectory(map.path().c_str());
    EXPECT_EQ(Found("up.wav"), map.file("up.wav"));
    EXPECT_EQ(Found("down1.wav"), std::string(data) + "/sounds/down1.wav");

    WriteWholeFile(work.file("up.wav"), wave);
    EXPECT_EQ(Found("up.wav"), work.file("up.wav"));

    EXPECT_EQ(Found("missing.wav"), "(none)");
    EXPECT_EQ(Found(map.file("up.wav").c_str()), map.file("up.wav")) << "a full path as it is";
    EXPECT_EQ(Found(map.file("missing.wav").c_str()), "(none)");
    SetMapSoundDirectory("");
}

TEST(Sound, LoopsAreReplacedAndStoppedAsTheJournalShows) {
    EnableJournal(true);
    ClearJournal();
    EXPECT_FALSE(sndPlaySound("missing.wav", SND_ASYNC | SND_NODEFAULT));
    EXPECT_FALSE(IsSoundPlaying());

    ASSERT_TRUE(sndPlaySound("down3.wav", SND_ASYNC | SND_NODEFAULT | SND_LOOP));
    // A looping alarm counts as playing until it is stopped or replaced, heard or not;
    // so a sound that must not interrupt it is refused.
    EXPECT_TRUE(IsSoundPlaying());
    EXPECT_FALSE(sndPlaySound("up.wav", SND_ASYNC | SND_NODEFAULT | SND_NOSTOP));
    EXPECT_TRUE(IsSoundPlaying());

    EXPECT_TRUE(sndPlaySound("down1.wav", SND_ASYNC | SND_NODEFAULT | SND_LOOP));
    EXPECT_TRUE(sndPlaySound("up.wav", SND_ASYNC | SND_NODEFAULT));
    EXPECT_TRUE(sndPlaySound(nullptr, 0));
    EXPECT_FALSE(IsSoundPlaying());
    EXPECT_TRUE(sndPlaySound(nullptr, 0)) << "stopping twice is harmless";
    EXPECT_TRUE(sndPlaySound("up.wav", SND_ASYNC | SND_NODEFAULT | SND_NOSTOP));
    sndPlaySound(nullptr, 0);

    EXPECT_EQ(JournalEntries(),
              (std::vector<std::string>{"sound: missing.wav (not found)", "sound: down3.wav (loop)",
                                        "sound: down1.wav (loop)", "sound: up.wav", "sound: stop",
                                        "sound: stop", "sound: up.wav", "sound: stop"}));
    EnableJournal(false);
}

} // namespace
