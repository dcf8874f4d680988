// A record of what the program did to the outside world (programs started, sounds played,
// message boxes shown, menu choices), for tests to read. It observes; the real action
// always happens as well. Only the newest entries are kept, so it stays small in a long run.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

constexpr std::size_t JOURNAL_LIMIT = 1000;

// Entries "kind: text", oldest first.
extern std::vector<std::string> journal;

void AppendJournal(const char* format, ...) __attribute__((format(printf, 1, 2)));
void ClearJournal();

} // namespace platform
