// Where the platform tests leave pictures to look at: $TARNMAP_TEST_OUTPUT/<name>.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

inline std::string OutputPath(const char* name) {
    const char* output = std::getenv("TARNMAP_TEST_OUTPUT");
    std::string directory = output != nullptr ? output : ".";
    std::filesystem::create_directories(directory);
    return directory + "/" + name;
}
