// The profile functions over our own INI reader and writer: a cache of parsed settings
// files (one stat() per read decides whether a parse is still good) and the atomic
// rewrite of a file for every change, which keeps all other lines as they were.
#include "platform/profile.h"

#include "platform/files.h"
#include "platform/files_internal.h"
#include "platform/testing_sys.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {

namespace {

// A settings file larger than this is not ours: reads give defaults, writes refuse to
// replace it.
constexpr off_t maximumFileSize = 64 * 1024 * 1024;
// More files than this in the cache means something unusual; start again from empty.
constexpr std::size_t maximumCachedFiles = 32;

struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept {
        return std::hash<std::string_view>{}(text);
    }
};
template <typename Value>
using NameMap = std::unordered_map<std::string, Value, NameHash, std::equal_to<>>;

// What tells one version of a file from another without reading it.
struct FileIdentity {
    dev_t device;
    ino_t inode;
    off_t size;
    timespec modified;
    timespec changed;
};

bool SameIdentity(const FileIdentity& a, const FileIdentity& b) {
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modified.tv_sec == b.modified.tv_sec && a.modified.tv_nsec == b.modified.tv_nsec &&
           a.changed.tv_sec == b.changed.tv_sec && a.changed.tv_nsec == b.changed.tv_nsec;
}

FileIdentity IdentityOf(const struct stat& status) {
    return FileIdentity{status.st_dev, status.st_ino, status.st_size, status.st_mtim,
                        status.st_ctim};
}

struct KeyEntry {
    std::size_t line;  // index into ParsedFile::lines
    std::size_t equal; // offset of the '=' in that line
    std::string value; // trimmed, one pair of double quotes removed
};

struct Section {
    std::size_t header;      // line of "[name]"
    std::size_t lastKeyLine; // where a new key goes after; the header when there are no keys
    NameMap<KeyEntry> keys;  // upper-cased names, first occurrence only
};

// One settings file: its lines without line ends, and an index of the first section of
// each name with the first key of each name in it. Later duplicates are kept as lines
// but never found, as the profile functions have always behaved.
struct ParsedFile {
    FileIdentity identity{};
    unsigned checkedInGroup = 0; // the group of reads that last found the file unchanged
    std::vector<std::string> lines;
    std::vector<Section> sections;
    NameMap<std::size_t> sectionIndex; // upper-cased name -> index into sections
};

NameMap<ParsedFile> profileCache;
unsigned parseCount = 0;
// The group of reads under way (BeginProfileReads): its number, never 0, and its depth.
unsigned readGroup = 0;
unsigned lastReadGroup = 0; // the number given last
unsigned readGroupDepth = 0;
NameMap<unsigned> missingInGroup; // files found missing, with the group that found it
void (*refusalReport)(const char* file) = nullptr;
std::set<std::string, std::less<>> refusedFiles; // told already; forgotten once readable

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

char UpperCase(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string FoldToString(std::string_view name) {
    std::string folded(name);
    for (char& c : folded)
        c = UpperCase(c);
    return folded;
}

// A requested section or key name in the form the index holds: trimmed and upper-cased.
// Short names (all of ours) stay on the stack so a read allocates nothing.
class FoldedName {
  public:
    explicit FoldedName(const char* name) {
        std::string_view trimmed = Trim(name);
        if (trimmed.size() <= sizeof(text_)) {
            for (std::size_t i = 0; i < trimmed.size(); ++i)
                text_[i] = UpperCase(trimmed[i]);
            view_ = std::string_view(text_, trimmed.size());
        } else {
            spill_ = FoldToString(trimmed);
            view_ = spill_;
        }
    }
    std::string_view view() const { return view_; }

  private:
    char text_[96];
    std::string spill_;
    std::string_view view_;
};

void IndexLines(ParsedFile& parsed) {
    parsed.sections.clear();
    parsed.sectionIndex.clear();
    constexpr std::size_t none = static_cast<std::size_t>(-1);
    std::size_t current = none; // outside any section, or in a later duplicate
    for (std::size_t number = 0; number < parsed.lines.size(); ++number) {
        std::string_view line = parsed.lines[number];
        std::string_view text = Trim(line);
        if (text.empty() || text.front() == ';')
            continue;
        if (text.front() == '[') {
            // The last ']' closes the name, so every name we write reads back.
            std::size_t close = text.rfind(']');
            if (close == std::string_view::npos)
                continue;
            std::string name = FoldToString(Trim(text.substr(1, close - 1)));
            auto [where, added] = parsed.sectionIndex.try_emplace(std::move(name), 0);
            if (added) {
                current = parsed.sections.size();
                where->second = current;
                parsed.sections.push_back(Section{number, number, {}});
            } else {
                current = none;
            }
            continue;
        }
        std::size_t equal = line.find('=');
        if (equal == std::string_view::npos)
            continue;
        std::string_view key = Trim(line.substr(0, equal));
        if (key.empty() || current == none)
            continue;
        Section& section = parsed.sections[current];
        section.lastKeyLine = number;
        std::string_view value = Trim(line.substr(equal + 1));
        value = value.substr(0, std::min(value.size(), value.find('\0')));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        section.keys.try_emplace(FoldToString(key), KeyEntry{number, equal, std::string(value)});
    }
}

void SplitLines(std::string_view text, std::vector<std::string>& lines) {
    lines.clear();
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.emplace_back(line);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::size_t total = 0;
    for (const std::string& line : lines)
        total += line.size() + 2;
    std::string text;
    text.reserve(total);
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

enum class LoadResult { parsed, missing, unreadable };

// A settings file that is a FIFO, a device or a directory is neither read nor written;
// it is told once, until it is a file again.
void RefuseFile(const char* file) {
    if (refusedFiles.emplace(file).second && refusalReport != nullptr)
        refusalReport(file);
}

void AcceptFile(const char* file) {
    if (!refusedFiles.empty()) {
        auto found = refusedFiles.find(std::string_view(file));
        if (found != refusedFiles.end())
            refusedFiles.erase(found);
    }
}

// Reads and parses `file` into `parsed`. A file that does not exist is `missing`; one that
// exists but cannot be read whole (not a regular file, no permission, too large) is
// `unreadable`.
LoadResult ReadProfileFile(const char* file, ParsedFile& parsed) {
    struct stat status {};
    int error = 0;
    int descriptor = OpenRegularFile(file, O_RDONLY, &status, &error);
    if (descriptor < 0) {
        if (error == FILE_NOT_REGULAR)
            RefuseFile(file);
        return error == ENOENT || error == ENOTDIR ? LoadResult::missing : LoadResult::unreadable;
    }
    if (status.st_size > maximumFileSize) {
        close(descriptor);
        return LoadResult::unreadable;
    }
    AcceptFile(file);
    std::string text;
    text.resize(static_cast<std::size_t>(status.st_size));
    std::size_t filled = 0;
    for (;;) {
        if (filled == text.size())
            text.resize(text.size() + 4096); // the file grew while we read it
        ssize_t got = read(descriptor, text.data() + filled, text.size() - filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            close(descriptor);
            return LoadResult::unreadable;
        }
        if (got == 0)
            break;
        filled += static_cast<std::size_t>(got);
    }
    close(descriptor);
    text.resize(filled);
    parsed.identity = IdentityOf(status);
    SplitLines(text, parsed.lines);
    IndexLines(parsed);
    ++parseCount;
    return LoadResult::parsed;
}

// The parse of `file` as it is on disk now, from the cache when the file has not changed
// since. Null when the file is missing or unreadable; `result` says which.
// Within a group of reads, a file already found unchanged in the group is taken as it is,
// unless `afresh`.
const ParsedFile* LoadProfile(const char* file, LoadResult* result = nullptr, bool afresh = false) {
    struct stat status {};
    auto cached = profileCache.find(std::string_view(file));
    if (!afresh && readGroupDepth > 0 && cached != profileCache.end() &&
        cached->second.checkedInGroup == readGroup) {
        if (result != nullptr)
            *result = LoadResult::parsed;
        return &cached->second;
    }
    auto missing = missingInGroup.find(std::string_view(file));
    if (!afresh && readGroupDepth > 0 && missing != missingInGroup.end() &&
        missing->second == readGroup) {
        if (result != nullptr)
            *result = LoadResult::missing;
        return nullptr;
    }
    if (stat(file, &status) != 0) {
        if (cached != profileCache.end())
            profileCache.erase(cached);
        if (readGroupDepth > 0 && errno == ENOENT) {
            if (missingInGroup.size() >= maximumCachedFiles)
                missingInGroup.clear();
            missingInGroup[file] = readGroup;
            errno = ENOENT;
        }
        if (result != nullptr)
            *result = (errno == ENOENT || errno == ENOTDIR) ? LoadResult::missing
                                                            : LoadResult::unreadable;
        return nullptr;
    }
    if (!S_ISREG(status.st_mode)) {
        if (cached != profileCache.end())
            profileCache.erase(cached);
        RefuseFile(file);
        if (result != nullptr)
            *result = LoadResult::unreadable;
        return nullptr;
    }
    if (cached != profileCache.end() && SameIdentity(cached->second.identity, IdentityOf(status))) {
        if (result != nullptr)
            *result = LoadResult::parsed;
        cached->second.checkedInGroup = readGroup;
        return &cached->second;
    }
    ParsedFile fresh;
    LoadResult loaded = ReadProfileFile(file, fresh);
    fresh.checkedInGroup = readGroup;
    if (result != nullptr)
        *result = loaded;
    if (loaded != LoadResult::parsed) {
        if (cached != profileCache.end())
            profileCache.erase(cached);
        return nullptr;
    }
    if (cached != profileCache.end()) {
        cached->second = std::move(fresh);
        return &cached->second;
    }
    if (profileCache.size() >= maximumCachedFiles)
        profileCache.clear();
    return &profileCache.emplace(file, std::move(fresh)).first->second;
}

const Section* FindSection(const ParsedFile& parsed, std::string_view foldedSection) {
    auto where = parsed.sectionIndex.find(foldedSection);
    return where == parsed.sectionIndex.end() ? nullptr : &parsed.sections[where->second];
}

const KeyEntry* FindKey(const ParsedFile& parsed, const char* section, const char* key) {
    FoldedName foldedSection(section);
    const Section* found = FindSection(parsed, foldedSection.view());
    if (found == nullptr)
        return nullptr;
    FoldedName foldedKey(key);
    auto where = found->keys.find(foldedKey.view());
    return where == found->keys.end() ? nullptr : &where->second;
}

// The stored value of a key, or null when the file, the section or the key is missing.
const std::string* LookUpValue(const char* section, const char* key, const char* file) {
    if (section == nullptr || key == nullptr || file == nullptr)
        return nullptr;
    const ParsedFile* parsed = LoadProfile(file);
    if (parsed == nullptr)
        return nullptr;
    const KeyEntry* entry = FindKey(*parsed, section, key);
    return entry == nullptr ? nullptr : &entry->value;
}

// --- Writing ---

// mkdir -p: every missing directory of `directory`, with the default permissions.
bool MakeDirectories(const std::string& directory) {
    struct stat status {};
    if (stat(directory.c_str(), &status) == 0)
        return S_ISDIR(status.st_mode);
    for (std::size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
        std::string prefix = directory.substr(0, slash);
        if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
    }
    return stat(directory.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != text.npos;
}

// Names that could not be read back once written: they would break the line structure or
// read as something else.
bool AcceptableNames(const char* section, const char* key, const char* value) {
    std::string_view sectionText = Trim(section);
    std::string_view keyText = Trim(key);
    if (HasLineBreak(sectionText) || HasLineBreak(keyText))
        return false;
    if (keyText.empty() || keyText.find('=') != keyText.npos || keyText.front() == '[' ||
        keyText.front() == ';')
        return false;
    return value == nullptr || !HasLineBreak(value);
}

// The reader trims a value's edge blanks and takes off one pair of enclosing quotes, as
// files written by hand expect. A value that would lose something that way is stored in
// one more pair of quotes, so every value reads back exactly as it was written.
std::string StoredValue(std::string_view value) {
    bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
    bool padded = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
    if (!quoted && !padded)
        return std::string(value);
    std::string stored = "\"";
    stored += value;
    stored += '"';
    return stored;
}

// The change of one key, read from the file as it is under the lock, so that what another
// program wrote meanwhile is kept.
bool WriteProfileValue(const char* section, const char* key, const char* value, const char* file) {
    if (section == nullptr || key == nullptr || file == nullptr || file[0] == '\0' ||
        !AcceptableNames(section, key, value))
        return false;
    std::string target = WriteTargetOf(file);
    if (target.empty() || !MakeDirectories(DirectoryOf(target)))
        return false;
    DirectoryLock lock(DirectoryOf(target));
    if (lock.busy())
        return false;
    LoadResult loaded = LoadResult::missing;
    const ParsedFile* current = LoadProfile(file, &loaded, true);
    if (loaded == LoadResult::unreadable)
        return false; // never replace a file we could not read with one that lost its lines

    ParsedFile changed;
    if (current != nullptr)
        changed.lines = current->lines;
    const KeyEntry* entry = current != nullptr ? FindKey(*current, section, key) : nullptr;
    const Section* found = nullptr;
    if (current != nullptr) {
        FoldedName foldedSection(section);
        found = FindSection(*current, foldedSection.view());
    }

    if (value == nullptr) {
        if (entry == nullptr)
            return true; // nothing to delete
        changed.lines.erase(changed.lines.begin() + static_cast<std::ptrdiff_t>(entry->line));
    } else if (entry != nullptr) {
        // Keep the key as it was spelled, with its blanks, up to and including the '='.
        std::string line = changed.lines[entry->line].substr(0, entry->equal + 1);
        line += StoredValue(value);
        if (line == changed.lines[entry->line])
            return true;
        changed.lines[entry->line] = std::move(line);
    } else {
        std::string line(Trim(key));
        line += '=';
        line += StoredValue(value);
        if (found != nullptr) {
            changed.lines.insert(changed.lines.begin() +
                                     static_cast<std::ptrdiff_t>(found->lastKeyLine + 1),
                                 std::move(line));
        } else {
            if (!changed.lines.empty() && !Trim(changed.lines.back()).empty())
                changed.lines.emplace_back();
            std::string header = "[";
            header += Trim(section);
            header += ']';
            changed.lines.push_back(std::move(header));
            changed.lines.push_back(std::move(line));
        }
    }

    struct stat old {};
    bool exists = stat(target.c_str(), &old) == 0;
    std::string text = JoinLines(changed.lines);
    struct stat written {};
    if (!ReplaceFileContents(target, text.data(), text.size(), exists ? &old : nullptr, &written))
        return false;
    changed.identity = IdentityOf(written);
    changed.checkedInGroup = readGroup;
    IndexLines(changed);
    if (auto missing = missingInGroup.find(std::string_view(file)); missing != missingInGroup.end())
        missingInGroup.erase(missing);
    auto cached = profileCache.find(std::string_view(file));
    if (cached != profileCache.end()) {
        cached->second = std::move(changed);
    } else {
        if (profileCache.size() >= maximumCachedFiles)
            profileCache.clear();
        profileCache.emplace(file, std::move(changed));
    }
    return true;
}

} // namespace

unsigned GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                 char* buffer, unsigned size, const char* file) {
    if (buffer == nullptr || size == 0)
        return 0;
    std::string_view value;
    bool found = false;
    try {
        const std::string* stored = LookUpValue(section, key, file);
        if (stored != nullptr) {
            value = *stored;
            found = true;
        }
    } catch (...) {
        // Out of memory while parsing: the caller gets its default.
    }
    if (!found) {
        value = defaultValue != nullptr ? defaultValue : "";
        // The profile functions have always dropped trailing blanks of the default.
        while (!value.empty() && value.back() == ' ')
            value.remove_suffix(1);
    }
    std::size_t count = std::min<std::size_t>(value.size(), size - 1);
    std::memcpy(buffer, value.data(), count);
    buffer[count] = '\0';
    return static_cast<unsigned>(count);
}

unsigned GetPrivateProfileInt(const char* section, const char* key, int defaultValue,
                              const char* file) {
    std::string_view value;
    try {
        const std::string* stored = LookUpValue(section, key, file);
        if (stored != nullptr)
            value = *stored;
    } catch (...) {
    }
    // An empty value counts as missing, as it always has on Win32.
    if (value.empty())
        return static_cast<unsigned>(defaultValue);
    std::size_t at = 0;
    while (at < value.size() && IsBlank(value[at]))
        ++at;
    bool negative = false;
    if (at < value.size() && (value[at] == '+' || value[at] == '-')) {
        negative = value[at] == '-';
        ++at;
    }
    unsigned number = 0; // unsigned arithmetic wraps modulo 2^32, which is the rule
    while (at < value.size() && value[at] >= '0' && value[at] <= '9') {
        number = number * 10u + static_cast<unsigned>(value[at] - '0');
        ++at;
    }
    return negative ? 0u - number : number;
}

bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* file) {
    try {
        return WriteProfileValue(section, key, value, file);
    } catch (...) {
        return false;
    }
}

unsigned NewProfileReadGroup() {
    if (++lastReadGroup == 0)
        lastReadGroup = 1;
    return lastReadGroup;
}

void BeginProfileReads() {
    if (readGroupDepth++ == 0)
        readGroup = NewProfileReadGroup();
}

void ResumeProfileReads(unsigned group) {
    if (readGroupDepth++ == 0)
        readGroup = group;
}

void EndProfileReads() {
    if (readGroupDepth > 0)
        --readGroupDepth;
}

void SetProfileRefusalReport(void (*report)(const char* file)) {
    refusalReport = report;
}

void FlushProfileCache() {
    profileCache.clear();
}

unsigned ProfileParseCount() {
    return parseCount;
}

} // namespace platform
