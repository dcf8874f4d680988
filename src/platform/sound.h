// Alarm sounds: WAV files played asynchronously, once or looping, until stopped or
// replaced by the next sound. A machine without an audio device plays nothing, quietly.
#pragma once

#include "platform/types.h"

namespace platform {

constexpr UINT SND_ASYNC = 0x0001;
constexpr UINT SND_NODEFAULT = 0x0002;
constexpr UINT SND_LOOP = 0x0008;
constexpr UINT SND_NOSTOP = 0x0010;

// Plays the WAV file `name` (null stops the sound playing). A bare name is looked up in
// the current directory, then in the sound directory beside the map, then among the
// installed sounds. Returns false when the file was not found, or when SND_NOSTOP was
// given and a sound is playing.
bool sndPlaySound(const char* name, UINT flags);

// The directory of the open map, searched second.
void SetMapSoundDirectory(const char* directory);

} // namespace platform
