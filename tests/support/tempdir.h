// A fresh directory under the build tree's test output for one test, removed afterwards,
// with the current directory moved into it for the test's duration when asked.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

class TempDir {
  public:
    explicit TempDir(bool enter = false);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
    std::string previous_;
};

// Whole-file helpers for checking what the program wrote.
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& text);
// The lines of `path` (each ended by `end`) without their "MM/DD/YY HH:MM:SS " stamps,
// which are checked.
std::vector<std::string> StampedLines(const std::string& path, const std::string& end = "\r\n");
// How often `part` occurs in `text`, overlapping occurrences included.
int CountOf(const std::string& text, const std::string& part);
// Whether `text` holds `part`; an assertion that shows both: EXPECT_TRUE(Holds(log, line)).
testing::AssertionResult Holds(const std::string& text, const std::string& part);
// How many entries a directory holds: a temporary file left behind shows here.
int EntriesIn(const std::string& directory);
// A shell script at `path` that writes the arguments it is given, each in <>, and a line end
// to path + ".out"; and what it wrote there, waited for (five seconds at most) and removed.
std::string WriteArgumentsScript(const std::string& path);
std::string TakeScriptOutput(const std::string& script);
// A path under the test output directory, which is made if missing.
std::string PicturePath(const char* name);
