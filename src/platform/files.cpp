// Atomic file replacement on POSIX: a temporary file in the target's directory, written,
// flushed to disk, renamed over the target, then the directory entry flushed as well.
#include "platform/files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

static bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t written = write(fd, data, size);
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

// The directory part of `path` ("." for a bare name, "/" for a name in the root).
static std::string DirectoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// Opens a fresh temporary file in `directory`. Created with O_EXCL and mode 0666 so the
// user's umask applies as it would to any new file of ours.
static int CreateTemporaryFile(const std::string& directory, std::string* name) {
    static unsigned serial = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, "/.tarnmap-%ld-%u.tmp", static_cast<long>(getpid()),
                      serial++);
        *name = directory + suffix;
        int fd = open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

static void SyncDirectory(const std::string& directory) {
    int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd); // the rename is already done; a failure here cannot be undone
    close(fd);
}

bool ReplaceFileAtomically(const char* path, const char* data, std::size_t size) {
    if (path == nullptr || path[0] == '\0')
        return false;
    std::string target = path;

    // Saving through a link must keep the link and change the file it points to.
    struct stat info {};
    if (lstat(path, &info) == 0 && S_ISLNK(info.st_mode)) {
        char* resolved = realpath(path, nullptr);
        if (resolved == nullptr)
            return false;
        target = resolved;
        std::free(resolved);
    }
    bool exists = stat(target.c_str(), &info) == 0;
    if (exists && !S_ISREG(info.st_mode))
        return false;

    std::string directory = DirectoryOf(target);
    std::string temporary;
    int fd = CreateTemporaryFile(directory, &temporary);
    if (fd < 0)
        return false;

    bool written = WriteAll(fd, data, size);
    if (written && exists)
        written = fchmod(fd, info.st_mode & 07777) == 0;
    if (written)
        written = fsync(fd) == 0;
    if (close(fd) != 0)
        written = false;
    if (!written || rename(temporary.c_str(), target.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    SyncDirectory(directory);
    return true;
}

} // namespace platform
