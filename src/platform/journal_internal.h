// Inside the layer: the journal of what the program did to the outside world, written
// where the action happens (programs started, sounds played, message boxes and menus shown).
// Tests switch it on and read it through testing_sys.h.
#pragma once

namespace platform {

// Appends "kind: text" while the journal is on.
void RecordInJournal(const char* kind, const char* text);

} // namespace platform
