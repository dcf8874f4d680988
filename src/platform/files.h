// Files on disk as the program meets them: opened for reading without ever blocking on a
// FIFO or a device, appended to a line at a time, and replaced whole. A replacement goes
// to an unnamed or temporary file beside the old one, reaches the disk, and only then
// takes the old file's name, so a reader never sees a half-written file and a failed save
// leaves the old file as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace platform {

// Why a file call failed: a system error number, or one of these.
constexpr int FILE_NOT_REGULAR = -1; // a FIFO, a device, a socket or a directory
constexpr int FILE_TOO_LARGE = -2;   // larger than the caller's limit

// A short text for a reason above ("not a regular file", "No space left on device").
const char* FileErrorText(int error);

// Opens the regular file `path` for reading in binary mode. Never waits: a FIFO, a device
// or a directory is refused with FILE_NOT_REGULAR, a file larger than `limit` bytes with
// FILE_TOO_LARGE. Null on failure, with the reason in `*error`.
std::FILE* OpenFileForReading(const char* path, std::uint64_t limit, int* error);

// Appends `size` bytes to the regular file `path`, creating it when missing, in one
// write: when the disk takes only part of it, that part is cut off again, so the file
// never ends in a piece of a line. Returns 0, or the reason nothing was appended.
int AppendToFile(const char* path, const char* data, std::size_t size);

// Replaces the file `path` (or creates it) with `size` bytes of `data`. The new file keeps
// the old one's permission bits, owner and group (the owner only where we may set it); a
// symbolic link is followed and its target replaced. A file we may not write (a read-only
// map) is not replaced. Returns false when any step failed, or was refused, with errno
// set; the old file is then untouched. No temporary file outlives the call, not even when the
// process is killed during it (the contents are written to an unnamed file where the file
// system has them; temporary files that killed processes left behind are removed when the
// directory is next written).
bool ReplaceFileAtomically(const char* path, const char* data, std::size_t size);

} // namespace platform
