// Sounds on QSoundEffect. One sound plays at a time: a new one replaces a looping one.
//
// The toolkit's sample cache (Qt 6.4) deadlocks in its destructor at exit when its loader
// thread still has work that takes the cache's lock: a sample being decoded, or one being
// released. So every sound file keeps an effect of its own for the whole run (no sample
// is ever released), and at exit, before that destructor runs, the loads are let finish.
#include "platform/sound.h"

#include "platform/journal_internal.h"
#include "platform/system.h"
#include "platform/testing_sys.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSoundEffect>
#include <QThread>
#include <QUrl>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace platform {

namespace {

char mapSoundDirectory[256];
// The effects by file, kept until the process ends, and the one that played last.
constexpr std::size_t MAX_SOUND_FILES = 16;
std::vector<std::pair<std::string, QSoundEffect*>> soundEffects;
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

// Runs at exit before the sample cache is destroyed (exit handlers run in reverse order
// of registration, and this one is registered after the cache exists). Delivers the
// loader's queued reports until no effect is loading, for at most two seconds.
void FinishLoadingAtExit() {
    QDeadlineTimer deadline(2000);
    for (;;) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        bool loading = false;
        for (const auto& entry : soundEffects)
            loading = loading || entry.second->status() == QSoundEffect::Loading;
        if (!loading || deadline.hasExpired())
            return;
        QThread::msleep(5);
    }
}

// The effect of the file at `path`, made on its first use. Past MAX_SOUND_FILES files the
// oldest effect is given the new file.
QSoundEffect* EffectFor(const char* path) {
    for (const auto& [file, known] : soundEffects)
        if (file == path)
            return known;
    QSoundEffect* made = nullptr;
    if (soundEffects.size() < MAX_SOUND_FILES) {
        made = new QSoundEffect();
    } else {
        made = soundEffects.front().second;
        soundEffects.erase(soundEffects.begin());
    }
    soundEffects.emplace_back(path, made);
    made->setSource(QUrl::fromLocalFile(QString::fromLocal8Bit(path)));
    static bool exitHandlerRegistered = false;
    if (!exitHandlerRegistered)
        exitHandlerRegistered = std::atexit(FinishLoadingAtExit) == 0;
    return made;
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
    if (effect != nullptr)
        effect->stop();
    effect = EffectFor(path);
    loopPlaying = (flags & SND_LOOP) != 0;
    effect->setLoopCount(loopPlaying ? QSoundEffect::Infinite : 1);
    effect->play();
    return true;
}

} // namespace platform
