// Sounds on QSoundEffect. One sound plays at a time: a new one replaces a looping one.
#include "platform/sound.h"

#include "platform/journal.h"
#include "platform/system.h"

#include <QSoundEffect>
#include <QUrl>

#include <cstdio>

namespace platform {

namespace {

char mapSoundDirectory[256];
QSoundEffect* effect = nullptr;
// A looping alarm is playing until stopped or replaced, whether or not a device makes it
// heard; the toolkit's own state says nothing useful without one.
bool loopPlaying = false;

bool Exists(char* path, unsigned size, const char* directory, const char* subdirectory,
            const char* name) {
    int length = std::snprintf(path, size, "%s%s%s/%s", directory, subdirectory[0] ? "/" : "",
                               subdirectory, name);
    return length > 0 && static_cast<unsigned>(length) < size && FileExists(path);
}

} // namespace

void SetMapSoundDirectory(const char* directory) {
    std::snprintf(mapSoundDirectory, sizeof mapSoundDirectory, "%s", directory);
}

bool FindSoundFile(const char* name, char* path, unsigned size) {
    if (name[0] == '/') {
        std::snprintf(path, size, "%s", name);
        return FileExists(path);
    }
    char directory[4096];
    if (GetCurrentDirectory(directory, sizeof directory) != 0 &&
        Exists(path, size, directory, "", name))
        return true;
    if (mapSoundDirectory[0] != '\0' && Exists(path, size, mapSoundDirectory, "", name))
        return true;
    return GetDataDirectory(directory, sizeof directory) != 0 &&
           Exists(path, size, directory, "sounds", name);
}

bool IsSoundPlaying() {
    return loopPlaying || (effect != nullptr && effect->isPlaying());
}

bool sndPlaySound(const char* name, UINT flags) {
    if (name == nullptr) {
        RecordInJournal("sound", "stop");
        loopPlaying = false;
        if (effect != nullptr)
            effect->stop();
        return true;
    }
    if ((flags & SND_NOSTOP) != 0 && IsSoundPlaying())
        return false;
    char path[4096];
    if (!FindSoundFile(name, path, sizeof path)) {
        RecordInJournal("sound", (std::string(name) + " (not found)").c_str());
        return false;
    }
    RecordInJournal("sound",
                    (std::string(name) + ((flags & SND_LOOP) != 0 ? " (loop)" : "")).c_str());
    if (effect == nullptr)
        effect = new QSoundEffect();
    effect->stop();
    effect->setSource(QUrl::fromLocalFile(QString::fromLocal8Bit(path)));
    loopPlaying = (flags & SND_LOOP) != 0;
    effect->setLoopCount(loopPlaying ? QSoundEffect::Infinite : 1);
    effect->play();
    return true;
}

} // namespace platform
