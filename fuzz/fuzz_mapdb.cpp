// Feeds arbitrary bytes to the map database reader as a .db file, checks that the tables
// stay within their bounds with every text terminated in its field, then writes the map
// and reads it again: the second reading must give the same tables as the first.
#include "model/hosts.h"
#include "model/mapdb.h"
#include "model/settings.h"

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

static void CheckText(const char* field, std::size_t size) {
    if (std::memchr(field, '\0', size) == nullptr)
        std::abort();
}

static void CheckTables() {
    if (hostCount < 0 || hostCount > MAX_HOSTS || lineCount < 0 || lineCount > MAX_LINES)
        std::abort();
    for (int index = 0; index < hostCount; ++index) {
        const HostRecord& host = hostTable[index];
        CheckText(host.name, sizeof host.name);
        CheckText(host.address, sizeof host.address);
        CheckText(host.resolvedAddr, sizeof host.resolvedAddr);
        CheckText(host.info1, sizeof host.info1);
        CheckText(host.info2, sizeof host.info2);
        // No text may hold what separates fields or records in the file.
        for (const char* text : {host.name, host.address, host.info1, host.info2})
            if (std::strpbrk(text, ",\r\n") != nullptr)
                std::abort();
        if (host.missed != 2 || host.status != 0 || std::strcmp(host.address, host.resolvedAddr))
            std::abort();
    }
    CheckText(mapBanner, sizeof mapBanner);
    if (std::strpbrk(mapBanner, "\r\n") != nullptr)
        std::abort();
}

// The saved fields of every record, the monitoring ones left out.
static std::string SavedFields() {
    std::string fields = mapBanner;
    char number[160];
    for (int index = 0; index < hostCount; ++index) {
        const HostRecord& host = hostTable[index];
        std::snprintf(number, sizeof number, "|%s,%s,%s,%s,%d,%d,%u,%u,%u", host.name, host.address,
                      host.info1, host.info2, host.col, host.row, host.flags, host.protocol,
                      host.kind);
        fields += number;
    }
    for (int index = 0; index < lineCount; ++index) {
        const LineRecord& line = lineTable[index];
        std::snprintf(number, sizeof number, "|%d,%d,%d,%d,%d", line.attr, line.x1, line.y1,
                      line.x2, line.y2);
        fields += number;
    }
    return fields;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (scratch.empty()) {
        // On a memory file system when there is one: every save is flushed to disk.
        char memoryPattern[] = "/dev/shm/fuzz_mapdb-XXXXXX";
        char diskPattern[] = "/tmp/fuzz_mapdb-XXXXXX";
        if (mkdtemp(memoryPattern) != nullptr)
            scratch = memoryPattern;
        else if (mkdtemp(diskPattern) != nullptr)
            scratch = diskPattern;
        else
            std::abort();
        setenv("XDG_CONFIG_HOME", scratch.c_str(), 1);
    }
    std::string input = scratch + "/input.db";
    std::string output = scratch + "/output.db";
    WriteFile(input, data, size);

    mapBanner[0] = '\0';
    int accepted = ReadMapDatabase(0, input.c_str());
    CheckTables();
    if (accepted == 0 && (hostCount != 0 || lineCount != 0))
        std::abort();
    std::string first = SavedFields();

    if (WriteMapDatabase(output.c_str()) != 1)
        std::abort();
    if (ReadMapDatabase(0, output.c_str()) != 1 || mapVersion != 1)
        std::abort();
    CheckTables();
    if (SavedFields() != first)
        std::abort();

    std::remove((scratch + "/input.LOG").c_str()); // opening a map logs a line each time
    std::remove((scratch + "/output.LOG").c_str());
    return 0;
}
