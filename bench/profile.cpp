// Cost of the profile functions on a map settings file of 200 host sections: the reads the
// alarm code makes every poll cycle on an unchanged file, a first parse, and one write.
#include "platform/profile.h"
#include "platform/testing_sys.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

const char* const hostKeys[] = {"SOUND",         "LOG",         "BEEPER",
                                "BEEP_EACH",     "BEEP_COUNT",  "BEEP_CODE",
                                "BEEP_PRIORITY", "BEEP_NUMBER", "EXTERNAL"};

// A settings file as a large map leaves it: the map options, then 200 host sections.
std::string MakeMapSettings() {
    std::string directory =
        (std::filesystem::temp_directory_path() / "tarnmap-bench-profile").string();
    std::filesystem::create_directories(directory);
    std::string path = directory + "/map.INI";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "[OPTS]\r\nSOUND=1\r\nFIXFONT=1\r\nTIMER=60\r\nFONT=0\r\nWAIT=5000\r\n"
           "ICONS=1\r\nLABEL=1\r\nNOCHECK=0\r\n";
    for (int host = 0; host < 200; ++host) {
        out << "\r\n[host-" << host << "]\r\n";
        out << "SOUND=2\r\nLOG=1\r\nBEEPER=0\r\nBEEP_EACH=0\r\nBEEP_COUNT=14\r\n";
        out << "BEEP_CODE=" << host << "\r\nBEEP_PRIORITY=" << host << "\r\n";
        out << "BEEP_NUMBER=5551234\r\nEXTERNAL=/usr/local/bin/notify --host host-" << host
            << "\r\n";
    }
    return path;
}

const std::string& SettingsPath() {
    static const std::string path = MakeMapSettings();
    return path;
}

void ReadOneInt(benchmark::State& state) {
    const char* file = SettingsPath().c_str();
    platform::FlushProfileCache();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            platform::GetPrivateProfileInt("HOST-150", "BEEP_COUNT", 14, file));
}
BENCHMARK(ReadOneInt);

void ReadOneString(benchmark::State& state) {
    const char* file = SettingsPath().c_str();
    platform::FlushProfileCache();
    char buffer[256];
    for (auto _ : state) {
        platform::GetPrivateProfileString("host-150", "EXTERNAL", "", buffer, sizeof buffer, file);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(ReadOneString);

// The nine keys of one host, as the alarm code reads them for a host in one cycle.
void ReadNineKeysOfAHost(benchmark::State& state) {
    const char* file = SettingsPath().c_str();
    platform::FlushProfileCache();
    char buffer[256];
    for (auto _ : state) {
        for (const char* key : hostKeys) {
            platform::GetPrivateProfileString("host-77", key, "", buffer, sizeof buffer, file);
            benchmark::DoNotOptimize(buffer);
        }
    }
}
BENCHMARK(ReadNineKeysOfAHost);

// The first read after the file changed: the whole file is read and parsed.
void ReadAfterChange(benchmark::State& state) {
    const char* file = SettingsPath().c_str();
    for (auto _ : state) {
        platform::FlushProfileCache();
        benchmark::DoNotOptimize(
            platform::GetPrivateProfileInt("HOST-150", "BEEP_COUNT", 14, file));
    }
}
BENCHMARK(ReadAfterChange);

// One key written: the file rewritten, flushed to disk and renamed into place.
void WriteOneKey(benchmark::State& state) {
    const char* file = SettingsPath().c_str();
    unsigned turn = 0;
    for (auto _ : state) {
        char value[16];
        std::snprintf(value, sizeof value, "%u", ++turn % 20);
        benchmark::DoNotOptimize(
            platform::WritePrivateProfileString("host-150", "BEEP_COUNT", value, file));
    }
}
BENCHMARK(WriteOneKey);

} // namespace

BENCHMARK_MAIN();
