// Feeds arbitrary bytes to the settings reader as TARNMAP.INI and as a map's .INI, then
// reads every option, the colours, the window position and a host section.
#include "model/hosts.h"
#include "model/settings.h"
#include "platform/profile.h"
#include "platform/testing_sys.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

static std::string scratch;

static void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        std::abort();
    std::fwrite(data, 1, size, file);
    std::fclose(file);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (scratch.empty()) {
        char pattern[] = "/tmp/fuzz_settings-XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            std::abort();
        scratch = pattern;
        setenv("XDG_CONFIG_HOME", scratch.c_str(), 1);
        std::string config = scratch + "/tarnmap";
        mkdir(config.c_str(), 0700);
    }
    // The first half is the program's file, the second the map's.
    std::size_t half = size / 2;
    WriteFile(scratch + "/tarnmap/TARNMAP.INI", data, half);
    WriteFile(scratch + "/map.INI", data + half, size - half);
    platform::FlushProfileCache();

    std::string mapFile = scratch + "/map.db";
    SelectMapFiles(mapFile.c_str());
    std::remove((scratch + "/map.LOG").c_str()); // opening a map logs a line each time
    unsigned colors[COLOR_SLOT_COUNT];
    ReadColors(colors);
    for (unsigned color : colors)
        if (color >= 24)
            std::abort();
    platform::RECT rect;
    RestoreWindowPosition(&rect);
    char file[MAP_PATH_LENGTH + 1];
    ReadDefaultMapFile(file, sizeof file);
    if (std::strlen(file) > MAP_PATH_LENGTH ||
        std::strlen(options.telnetCommand) > COMMAND_LENGTH ||
        std::strlen(options.pageNumber) > PAGE_NUMBER_LENGTH)
        std::abort();

    ClearMap();
    int index = AppendHost(0, 0);
    if (size > 0)
        CopyField(hostTable[index].name, sizeof hostTable[index].name,
                  std::string(reinterpret_cast<const char*>(data), size < 8 ? size : 8).c_str());
    HostSettings settings;
    ReadHostSettings(index, HostSettingsReader::Alarms, &settings);
    if (std::strlen(settings.external) > EXTERNAL_LENGTH)
        std::abort();
    return 0;
}
