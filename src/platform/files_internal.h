// What the settings reader and writer share with the file calls inside the platform
// layer: the open that never blocks, the whole-file replacement with the new file's
// status, and the lock that keeps two programs' writes of one directory apart.
#pragma once

#include <cstddef>
#include <string>
#include <sys/stat.h>

namespace platform {

// Opens the regular file `path` with `flags` (O_RDONLY, or O_WRONLY with O_APPEND and
// O_CREAT) without waiting for a FIFO's other end and without taking a terminal; the
// descriptor is blocking again afterwards. -1 with the reason in `*error` (FILE_NOT_REGULAR
// or a system error number); `*status` describes the opened file.
int OpenRegularFile(const char* path, int flags, struct stat* status, int* error);

// The directory part of `path` ("." for a bare name, "/" for a name in the root).
std::string DirectoryOf(const std::string& path);

// Where a write to `path` goes: through a symbolic link to the file it names, so the link
// stays a link. Empty when `path` is a link that cannot be resolved.
std::string WriteTargetOf(const char* path);

// ReplaceFileAtomically on a resolved target: `old` is the status of the file being
// replaced (null when there is none), which must be writable by us; `written` receives the
// status of the new file, as stat() will see it from now on.
bool ReplaceFileContents(const std::string& target, const char* data, std::size_t size,
                         const struct stat* old, struct stat* written);

// An advisory lock on a directory, held for the object's life: two programs that write
// files of one directory under it never interleave their read-modify-write. The lock is
// on the directory itself, so it outlives the rename of a new file over an old one. Waits
// for another holder a bounded time (a holder keeps it for one file's write); `busy()`
// says another program kept it longer. A directory that cannot be locked at all (some
// network file systems) is written without the lock.
class DirectoryLock {
  public:
    explicit DirectoryLock(const std::string& directory);
    ~DirectoryLock();
    DirectoryLock(const DirectoryLock&) = delete;
    DirectoryLock& operator=(const DirectoryLock&) = delete;
    bool busy() const { return busy_; }

  private:
    int descriptor_ = -1;
    bool busy_ = false;
};

} // namespace platform
