#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

TempDir::TempDir(bool enter) {
    const char* base = std::getenv("TARNMAP_TEST_OUTPUT");
    fs::path root = base != nullptr ? fs::path(base) : fs::temp_directory_path();
    fs::create_directories(root);
    std::string pattern = (root / "tmp-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed under " + root.string());
    path_ = pattern;
    if (enter) {
        previous_ = fs::current_path().string();
        fs::current_path(path_);
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (!previous_.empty())
        fs::current_path(previous_, ignored);
    fs::remove_all(path_, ignored);
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteWholeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

int CountOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

testing::AssertionResult Holds(const std::string& text, const std::string& part) {
    return (text.find(part) != std::string::npos ? testing::AssertionSuccess()
                                                 : testing::AssertionFailure())
           << "\"" << part << "\" in:\n"
           << text;
}

int EntriesIn(const std::string& directory) {
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(directory))
        ++entries;
    return entries;
}

std::string PicturePath(const char* name) {
    const char* output = std::getenv("TARNMAP_TEST_OUTPUT");
    std::string directory = output != nullptr ? output : ".";
    std::filesystem::create_directories(directory);
    return directory + "/" + name;
}

std::vector<std::string> StampedLines(const std::string& path, const std::string& end) {
    std::string text = ReadWholeFile(path);
    std::vector<std::string> lines;
    for (std::size_t start = 0, found; (found = text.find(end, start)) != std::string::npos;
         start = found + end.size()) {
        std::string line = text.substr(start, found - start);
        EXPECT_TRUE(std::regex_search(line, std::regex(R"(^\d\d/\d\d/\d\d \d\d:\d\d:\d\d )")))
            << line;
        lines.push_back(line.size() > 18 ? line.substr(18) : line);
    }
    return lines;
}

std::string WriteArgumentsScript(const std::string& path) {
    WriteWholeFile(path, "#!/bin/sh\nfor a in \"$@\"; do printf '<%s>' \"$a\"; done > \"$0.tmp\"\n"
                         "echo >> \"$0.tmp\"; mv \"$0.tmp\" \"$0.out\"\n");
    fs::permissions(path, fs::perms::owner_all);
    return path;
}

std::string TakeScriptOutput(const std::string& script) {
    std::string path = script + ".out";
    for (int i = 0; i < 500 && !fs::exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::string text = ReadWholeFile(path);
    fs::remove(path);
    return text;
}
