#include "support/small_disk.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

SmallDisk::SmallDisk(unsigned kilobytes) {
    std::string options = "size=" + std::to_string(kilobytes) + "k,mode=0755";
    if (mount("tarnmap-test", dir_.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
              options.c_str()) != 0) {
        why_ = std::string("cannot mount a small tmpfs (needs root): ") + std::strerror(errno);
        return;
    }
    mounted_ = true;
}

SmallDisk::~SmallDisk() {
    if (mounted_)
        umount2(dir_.path().c_str(), MNT_DETACH);
}

void SmallDisk::Fill() {
    int descriptor = open(file(".filler").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (descriptor < 0)
        return;
    char block[512];
    std::memset(block, 'f', sizeof block);
    // Whole blocks first, then single bytes for the last part page.
    for (std::size_t size : {sizeof block, std::size_t{1}})
        while (write(descriptor, block, size) == static_cast<ssize_t>(size)) {
        }
    close(descriptor);
}

void SmallDisk::Free() {
    unlink(file(".filler").c_str());
}

bool SmallDisk::SetReadOnly(bool readOnly) {
    unsigned long flags = MS_REMOUNT | MS_NOSUID | MS_NODEV | (readOnly ? MS_RDONLY : 0);
    return mounted_ && mount("tarnmap-test", dir_.path().c_str(), "tmpfs", flags, nullptr) == 0;
}
