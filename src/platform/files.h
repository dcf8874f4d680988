// Whole-file replacement on disk: the new contents go to a temporary file beside the old
// one, reach the disk, and only then take the old file's name, so a reader never sees a
// half-written file and a failed save leaves the old file as it was.
#pragma once

#include <cstddef>

namespace platform {

// Replaces the file `path` (or creates it) with `size` bytes of `data`. The new file keeps
// the old one's permission bits; a symbolic link is followed and its target replaced.
// Returns false when any step failed; the old file is then untouched and no temporary
// file is left behind.
bool ReplaceFileAtomically(const char* path, const char* data, std::size_t size);

} // namespace platform
