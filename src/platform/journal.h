// A record of what the program did to the outside world (programs started, sounds
// played, message boxes shown), kept only while a test has switched it on. It observes;
// the real action always happens as well.
#pragma once

#include <string>
#include <vector>

namespace platform {

void EnableJournal(bool enabled);
void ClearJournal();

// Appends "kind: text" while the journal is on.
void RecordInJournal(const char* kind, const char* text);

std::vector<std::string> JournalEntries();

} // namespace platform
