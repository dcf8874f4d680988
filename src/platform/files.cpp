// Files on POSIX: opens that refuse what is not a regular file before they could block,
// appends of one write each, and the atomic replacement (an O_TMPFILE file linked under a
// temporary name and renamed over the target, or a named temporary file where the file
// system has no unnamed ones), with the sweep of temporary files that killed processes
// left behind and the directory lock of the settings writer.
#include "platform/files.h"

#include "platform/files_internal.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace platform {

/*** globals ***/

// Directories whose leftover temporary files this process has swept, by device and inode:
// once per directory and run is enough, as only a killed process leaves any.
static std::set<std::pair<dev_t, ino_t>> sweptDirectories;

// How long a settings write waits for another program's write of the same directory.
constexpr auto DIRECTORY_LOCK_WAIT = std::chrono::seconds(2);

/*** reasons ***/

const char* FileErrorText(int error) {
    switch (error) {
    case FILE_NOT_REGULAR:
        return "not a regular file";
    case FILE_TOO_LARGE:
        return "too large";
    default:
        return std::strerror(error);
    }
}

/*** opening ***/

int OpenRegularFile(const char* path, int flags, struct stat* status, int* error) {
    // Looked at before the open, so that a device is never opened at all; the open itself
    // does not wait either, for whatever took the name in between.
    if (stat(path, status) == 0 && !S_ISREG(status->st_mode)) {
        *error = FILE_NOT_REGULAR;
        return -1;
    }
    int descriptor = open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        // ENXIO: a FIFO with no reader, opened for writing.
        *error = errno == ENXIO ? FILE_NOT_REGULAR : errno;
        return -1;
    }
    if (fstat(descriptor, status) != 0 || !S_ISREG(status->st_mode)) {
        *error = S_ISREG(status->st_mode) ? errno : FILE_NOT_REGULAR;
        close(descriptor);
        return -1;
    }
    int mode = fcntl(descriptor, F_GETFL);
    if (mode >= 0)
        fcntl(descriptor, F_SETFL, mode & ~O_NONBLOCK);
    return descriptor;
}

std::FILE* OpenFileForReading(const char* path, std::uint64_t limit, int* error) {
    struct stat status {};
    int descriptor = OpenRegularFile(path, O_RDONLY, &status, error);
    if (descriptor < 0)
        return nullptr;
    if (static_cast<std::uint64_t>(status.st_size) > limit) {
        *error = FILE_TOO_LARGE;
        close(descriptor);
        return nullptr;
    }
    std::FILE* file = fdopen(descriptor, "rb");
    if (file == nullptr) {
        *error = errno;
        close(descriptor);
    }
    return file;
}

/*** appending ***/

// One write of all `size` bytes at the end of the file; a part that landed is cut off
// again. 0, or the reason (a short write is told as the disk being full).
static int AppendOnce(int descriptor, const char* data, std::size_t size) {
    ssize_t put;
    do {
        put = write(descriptor, data, size);
    } while (put < 0 && errno == EINTR);
    if (put < 0)
        return errno;
    if (static_cast<std::size_t>(put) == size)
        return 0;
    // O_APPEND left the offset after our piece, wherever the end was when it was written.
    off_t end = lseek(descriptor, 0, SEEK_CUR);
    if (end >= put && ftruncate(descriptor, end - put) != 0)
        return errno;
    return ENOSPC;
}

int AppendToFile(const char* path, const char* data, std::size_t size) {
    if (path == nullptr || path[0] == '\0')
        return ENOENT;
    struct stat status {};
    int error = 0;
    int descriptor = OpenRegularFile(path, O_WRONLY | O_APPEND | O_CREAT, &status, &error);
    if (descriptor < 0)
        return error;
    error = AppendOnce(descriptor, data, size);
    // A second try tells the true reason of a short first one (full disk or quota), and
    // takes the line whole when space was freed meanwhile.
    if (error == ENOSPC)
        error = AppendOnce(descriptor, data, size);
    if (close(descriptor) != 0 && error == 0)
        error = errno;
    return error;
}

/*** paths ***/

std::string DirectoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string WriteTargetOf(const char* path) {
    struct stat info {};
    if (lstat(path, &info) != 0 || !S_ISLNK(info.st_mode))
        return path;
    char* resolved = realpath(path, nullptr);
    if (resolved == nullptr)
        return std::string();
    std::string target = resolved;
    std::free(resolved);
    return target;
}

/*** temporary files ***/

// Temporary files are named ".tarnmap-<pid>-<serial>.tmp"; the settings writer of earlier
// versions named them ".<file>.tmp-<pid>-<serial>". The pid of either, or 0.
static pid_t TemporaryFileOwner(const char* name) {
    if (name[0] != '.')
        return 0;
    unsigned long pid = 0, serial = 0;
    int end = 0;
    if (std::sscanf(name, ".tarnmap-%lu-%lu.tmp%n", &pid, &serial, &end) == 2 && name[end] == '\0')
        return static_cast<pid_t>(pid);
    const char* marker = std::strstr(name, ".tmp-");
    while (marker != nullptr) {
        end = 0;
        if (std::sscanf(marker, ".tmp-%lu-%lu%n", &pid, &serial, &end) == 2 && marker[end] == '\0')
            return static_cast<pid_t>(pid);
        marker = std::strstr(marker + 1, ".tmp-");
    }
    return 0;
}

static bool ProcessIsGone(pid_t pid) {
    return pid > 0 && pid != getpid() && kill(pid, 0) != 0 && errno == ESRCH;
}

// Removes the temporary files of processes that no longer exist, the first time this run
// writes into `directory`.
static void SweepTemporaryFiles(const std::string& directory) {
    struct stat info {};
    if (stat(directory.c_str(), &info) != 0 ||
        !sweptDirectories.emplace(info.st_dev, info.st_ino).second)
        return;
    DIR* listing = opendir(directory.c_str());
    if (listing == nullptr)
        return;
    int descriptor = dirfd(listing);
    while (const dirent* entry = readdir(listing)) {
        if (!ProcessIsGone(TemporaryFileOwner(entry->d_name)))
            continue;
        struct stat file {};
        if (fstatat(descriptor, entry->d_name, &file, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(file.st_mode))
            unlinkat(descriptor, entry->d_name, 0);
    }
    closedir(listing);
}

static std::string TemporaryName(const std::string& directory) {
    static unsigned serial = 0;
    char name[64];
    std::snprintf(name, sizeof name, "/.tarnmap-%ld-%u.tmp", static_cast<long>(getpid()), serial++);
    return directory + name;
}

// An unnamed file in `directory`, or -1 where the file system has none.
static int CreateUnnamedFile(const std::string& directory) {
    return open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
}

// Gives the unnamed file `descriptor` a fresh temporary name; false when it cannot be
// linked (no /proc, or another reason), and the caller falls back to a named file.
static bool LinkUnnamedFile(int descriptor, const std::string& directory, std::string* name) {
    char procPath[48];
    std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", descriptor);
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = TemporaryName(directory);
        if (linkat(AT_FDCWD, procPath, AT_FDCWD, name->c_str(), AT_SYMLINK_FOLLOW) == 0)
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

// A named temporary file, created with O_EXCL and mode 0666 so the user's umask applies as
// it would to any new file of ours.
static int CreateNamedFile(const std::string& directory, std::string* name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = TemporaryName(directory);
        int descriptor = open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor >= 0 || errno != EEXIST)
            return descriptor;
    }
    return -1;
}

/*** replacing ***/

static bool WriteAll(int descriptor, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t written = write(descriptor, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// The contents, the old file's owner, group and permission bits, all on the disk.
static bool FillFile(int descriptor, const char* data, std::size_t size, const struct stat* old) {
    if (old != nullptr) {
        struct stat fresh {};
        if (fstat(descriptor, &fresh) == 0 &&
            (fresh.st_uid != old->st_uid || fresh.st_gid != old->st_gid)) {
            // Only root (or the owner changing the group) may; otherwise the file becomes
            // ours, and its contents matter more than its owner.
            if (fchown(descriptor, old->st_uid, old->st_gid) != 0) {
            }
        }
        // After the owner: a change of owner clears the set-id bits.
        if (fchmod(descriptor, old->st_mode & 07777) != 0)
            return false;
    }
    return WriteAll(descriptor, data, size) && fsync(descriptor) == 0;
}

static void SyncDirectory(const std::string& directory) {
    int descriptor = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return;
    fsync(descriptor); // the rename is already done; a failure here cannot be undone
    close(descriptor);
}

bool ReplaceFileContents(const std::string& target, const char* data, std::size_t size,
                         const struct stat* old, struct stat* written) {
    // The rename needs only the directory to be writable; a file the user made read-only
    // is refused as writing into it would be (EACCES, or EROFS).
    if (old != nullptr && access(target.c_str(), W_OK) != 0)
        return false;
    std::string directory = DirectoryOf(target);
    SweepTemporaryFiles(directory);
    std::string temporary;
    bool named = false;
    int descriptor = CreateUnnamedFile(directory);
    if (descriptor >= 0) {
        // A kill before the link leaves nothing behind: the file has no name yet.
        if (!FillFile(descriptor, data, size, old)) {
            close(descriptor);
            return false;
        }
        named = LinkUnnamedFile(descriptor, directory, &temporary);
        if (!named) {
            close(descriptor);
            descriptor = -1;
        }
    }
    if (!named) {
        descriptor = CreateNamedFile(directory, &temporary);
        if (descriptor < 0)
            return false;
        if (!FillFile(descriptor, data, size, old)) {
            close(descriptor);
            unlink(temporary.c_str());
            return false;
        }
    }
    if (rename(temporary.c_str(), target.c_str()) != 0) {
        close(descriptor);
        unlink(temporary.c_str());
        return false;
    }
    // Asked after the rename, which changes the file's status-change time, and through the
    // descriptor, so that a file put there by someone else since is never taken for ours.
    if (written != nullptr && fstat(descriptor, written) != 0)
        *written = {};
    close(descriptor);
    SyncDirectory(directory);
    return true;
}

bool ReplaceFileAtomically(const char* path, const char* data, std::size_t size) {
    if (path == nullptr || path[0] == '\0')
        return false;
    std::string target = WriteTargetOf(path);
    if (target.empty())
        return false;
    struct stat old {};
    bool exists = stat(target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) {
        errno = S_ISDIR(old.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    return ReplaceFileContents(target, data, size, exists ? &old : nullptr, nullptr);
}

/*** the directory lock ***/

DirectoryLock::DirectoryLock(const std::string& directory) {
    descriptor_ = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor_ < 0)
        return; // the write that follows fails on its own
    auto deadline = std::chrono::steady_clock::now() + DIRECTORY_LOCK_WAIT;
    while (flock(descriptor_, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return; // cannot be locked here: written without it
        if (std::chrono::steady_clock::now() >= deadline) {
            busy_ = true;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

DirectoryLock::~DirectoryLock() {
    if (descriptor_ >= 0)
        close(descriptor_); // and with it the lock
}

} // namespace platform
