// The journal's entries; everything happens on the UI thread.
#include "platform/journal.h"

#include <cstdarg>
#include <cstdio>

namespace platform {

std::vector<std::string> journal;

void AppendJournal(const char* format, ...) {
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (journal.size() >= JOURNAL_LIMIT)
        journal.erase(journal.begin(), journal.begin() + JOURNAL_LIMIT / 2);
    journal.emplace_back(line);
}

void ClearJournal() { journal.clear(); }

} // namespace platform
