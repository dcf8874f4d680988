// Feeds arbitrary bytes to the settings file reader as a file on disk, reads keys and
// numbers from it, then writes a key and checks that it reads back and that a key of
// another section kept its value.
#include "platform/profile.h"
#include "platform/testing_sys.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

const std::string& FuzzPath() {
    static const std::string path = [] {
        // Memory-backed when possible: every run flushes two writes to disk.
        std::error_code error;
        std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                         ? std::filesystem::path("/dev/shm")
                                         : std::filesystem::temp_directory_path();
        std::filesystem::path directory = base / "tarnmap-fuzz-profile";
        std::filesystem::create_directories(directory);
        return (directory / "fuzz.ini").string();
    }();
    return path;
}

// A name made of the input's first letters, so the written section often exists already.
std::string NameFrom(const std::uint8_t* data, std::size_t size, std::size_t skip) {
    std::string name;
    for (std::size_t at = skip; at < size && name.size() < 8; ++at) {
        char c = static_cast<char>(data[at]);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')
            name += c;
    }
    return name.empty() ? std::string("FUZZ") : name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = FuzzPath();
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr)
        return 0;
    std::fwrite(data, 1, size, out);
    std::fclose(out);
    platform::FlushProfileCache();
    const char* file = path.c_str();

    static const char* const sections[] = {"OPTS", "COLORS", "host", "", " a ", "[x]"};
    static const char* const keys[] = {"SOUND", "timer", "BEEP_COUNT", "", "a", "=", " x "};
    char buffer[64];
    for (const char* section : sections) {
        for (const char* key : keys) {
            unsigned count = platform::GetPrivateProfileString(section, key, "dflt", buffer,
                                                               sizeof buffer, file);
            if (count >= sizeof buffer || std::strlen(buffer) != count)
                std::abort();
            platform::GetPrivateProfileInt(section, key, 7, file);
        }
    }

    std::string section = NameFrom(data, size, 0);
    std::string otherSection = section + "_other";
    char before[64];
    platform::GetPrivateProfileString(otherSection.c_str(), "K", "", before, sizeof before, file);

    std::string value = "v" + NameFrom(data, size, size / 2);
    if (!platform::WritePrivateProfileString(section.c_str(), "FUZZKEY", value.c_str(), file))
        std::abort();
    platform::GetPrivateProfileString(section.c_str(), "fuzzkey", "", buffer, sizeof buffer, file);
    if (value != buffer)
        std::abort();
    char after[64];
    platform::GetPrivateProfileString(otherSection.c_str(), "K", "", after, sizeof after, file);
    if (std::strcmp(before, after) != 0)
        std::abort();

    // The same answers from a fresh parse of what was written.
    platform::FlushProfileCache();
    platform::GetPrivateProfileString(section.c_str(), "FUZZKEY", "", buffer, sizeof buffer, file);
    if (value != buffer)
        std::abort();
    if (!platform::WritePrivateProfileString(section.c_str(), "FUZZKEY", nullptr, file))
        std::abort();
    if (platform::GetPrivateProfileInt(section.c_str(), "FUZZKEY", 5, file) != 5)
        std::abort();
    return 0;
}
