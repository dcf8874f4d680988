// The journal's entries; everything happens on the UI thread.
#include "platform/journal_internal.h"
#include "platform/testing_sys.h"

namespace platform {

static bool journalEnabled = false;
static std::vector<std::string> journal;

void EnableJournal(bool enabled) {
    journalEnabled = enabled;
}

void ClearJournal() {
    journal.clear();
}

void RecordInJournal(const char* kind, const char* text) {
    if (journalEnabled)
        journal.push_back(std::string(kind) + ": " + text);
}

std::vector<std::string> JournalEntries() {
    return journal;
}

} // namespace platform
