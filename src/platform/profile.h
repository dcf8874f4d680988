// Settings files in the INI form: "[SECTION]" lines and "KEY=value" lines, read and
// written key by key. Sections and keys match without regard to case; a write keeps every
// other line of the file as it was and replaces the file atomically. Reads reuse one
// parse of a file until its size or modification time changes, or we write it.
#pragma once

namespace platform {

// Copies the value of `key` in `section` (or `defaultValue` when there is none) into
// `buffer`, cut to `size` - 1 characters and terminated. Returns the characters copied.
// A null `defaultValue` reads as ""; trailing blanks of the default are dropped. Blanks
// around keys and values in the file do not count, and one pair of double quotes around a
// value is removed. A null `section` or `key` reads the default.
unsigned GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                 char* buffer, unsigned size, const char* file);

// The leading decimal number of the value (blanks, then an optional sign, then digits; no
// digits gives 0), or `defaultValue` when the key is missing or its value is empty. The
// result is the number taken modulo 2^32, as an unsigned value.
unsigned GetPrivateProfileInt(const char* section, const char* key, int defaultValue,
                              const char* file);

// Sets `key` in `section` to `value`, creating the file, its directory and the section as
// needed. A null `value` deletes the key. Returns false when the file could not be
// written; the old file is then left as it was. The file is read again and changed under
// a lock of its directory, so two programs writing keys of one file keep each other's. Names and
// values that would not read back as written (a line break anywhere, a key that is empty, holds '='
// or begins with '[' or
// ';') are refused with false.
bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* file);

// Between these two calls, reads see each file as it was when it was first read after
// BeginProfileReads: one look at the file for a group of reads, where each read alone
// would look again. Writes still read the file afresh under their lock, and later reads
// see what they wrote. The calls nest.
void BeginProfileReads();
void EndProfileReads();

// A group of reads taken up again and again (a poll cycle's, at each message that
// advances it): ResumeProfileReads opens `group` as BeginProfileReads opens a new one, and
// EndProfileReads closes it. Reads in all its turns see each file as the group first
// looked at it, or as a read outside the group found it since. Reads between the turns
// are not in the group. Inside another group, the resumed one is that group.
unsigned NewProfileReadGroup();
void ResumeProfileReads(unsigned group);

// `report` is told the path of a settings file that is a FIFO, a device or a directory,
// once until it is a regular file again. Such a file is never opened for reading in a way
// that could wait, reads as missing (every value its default) and refuses writes.
void SetProfileRefusalReport(void (*report)(const char* file));

} // namespace platform
