// A small file system of a test's own: a tmpfs of a few pages mounted under the test
// output directory and unmounted afterwards, to meet a full or a read-only disk for real.
// Needs root (mount); SKIP_WITHOUT_SMALL_DISK says why a test cannot run without it.
#pragma once

#include "support/tempdir.h"

#include <string>

class SmallDisk {
  public:
    explicit SmallDisk(unsigned kilobytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    // Whether it is mounted; otherwise `why` says what failed.
    bool ok() const { return mounted_; }
    const std::string& why() const { return why_; }
    const std::string& path() const { return dir_.path(); }
    std::string file(const std::string& name) const { return dir_.file(name); }

    // Takes every free byte with a file of its own (".filler"), or gives them back.
    void Fill();
    void Free();
    // Mounts it again read-only, or writable.
    bool SetReadOnly(bool readOnly);

  private:
    TempDir dir_;
    bool mounted_ = false;
    std::string why_;
};

#define SKIP_WITHOUT_SMALL_DISK(disk)                                                              \
    do {                                                                                           \
        if (!(disk).ok())                                                                          \
            GTEST_SKIP() << (disk).why();                                                          \
    } while (false)
