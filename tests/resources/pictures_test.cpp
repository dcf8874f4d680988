// The picture table and the XPM data behind it: every resource is there under its name,
// every XPM is well formed, and the host pictures keep the host colour inside their
// outline when the map fills the background from the top-left corner.
#include "resources/pictures.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

struct ParsedXpm {
    int width = 0;
    int height = 0;
    std::map<std::string, std::string> colourOf;  // pixel code -> colour text
    std::vector<std::vector<std::string>> pixels; // colour text of every pixel, row by row
};

// Reads the XPM lines the way an XPM reader does; a fault fails the calling test.
::testing::AssertionResult ParseXpm(const char* const* xpm, ParsedXpm& out) {
    int colours = 0;
    int perPixel = 0;
    if (std::sscanf(xpm[0], "%d %d %d %d", &out.width, &out.height, &colours, &perPixel) != 4 ||
        out.width <= 0 || out.height <= 0 || colours <= 0 || perPixel <= 0) {
        return ::testing::AssertionFailure() << "bad header \"" << xpm[0] << "\"";
    }
    for (int i = 1; i <= colours; ++i) {
        std::string line = xpm[i];
        std::string code = line.substr(0, perPixel);
        size_t key = line.find(" c ", perPixel - 1);
        if (line.size() <= static_cast<size_t>(perPixel) || key == std::string::npos) {
            return ::testing::AssertionFailure() << "bad colour line \"" << line << "\"";
        }
        if (!out.colourOf.emplace(code, line.substr(key + 3)).second) {
            return ::testing::AssertionFailure() << "code \"" << code << "\" defined twice";
        }
    }
    for (int y = 0; y < out.height; ++y) {
        std::string row = xpm[1 + colours + y];
        if (row.size() != static_cast<size_t>(out.width * perPixel)) {
            return ::testing::AssertionFailure()
                   << "row " << y << " has " << row.size() << " characters";
        }
        std::vector<std::string> colourRow;
        for (int x = 0; x < out.width; ++x) {
            auto found = out.colourOf.find(row.substr(x * perPixel, perPixel));
            if (found == out.colourOf.end()) {
                return ::testing::AssertionFailure() << "undefined code in row " << y;
            }
            colourRow.push_back(found->second);
        }
        out.pixels.push_back(colourRow);
    }
    return ::testing::AssertionSuccess();
}

TEST(PictureResources, EveryPictureIsThereOnceUnderItsName) {
    const std::vector<std::string> names = {
        "BMP_PC",      "BMP_HOST",    "BMP_SERVER",  "BMP_ROUTER",  "BMP_BRIDGE",  "BMP_HUB",
        "BMP_MTU",     "BMP_NET",     "BMP_PRINTER", "TOOLBAR_122", "FLMICON0_16", "FLMICON0_32",
        "FLMICON0_48", "FLMICON0_64", "TARNMAP_BMP", "FLMICON0_128"};
    ASSERT_EQ(pictureResourceCount, static_cast<int>(names.size()));
    std::set<const char* const*> distinct;
    for (const std::string& name : names) {
        const char* const* xpm = FindPictureResource(name.c_str());
        ASSERT_NE(xpm, nullptr) << name;
        distinct.insert(xpm);
        std::string lower = name;
        for (char& c : lower) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        EXPECT_EQ(FindPictureResource(lower.c_str()), xpm) << "names match in any case";
    }
    EXPECT_EQ(distinct.size(), names.size()) << "each name has its own picture";
    EXPECT_EQ(FindPictureResource("BMP_P"), nullptr);
    EXPECT_EQ(FindPictureResource("BMP_PCX"), nullptr);
    EXPECT_EQ(FindPictureResource(""), nullptr);
    EXPECT_EQ(FindPictureResource(nullptr), nullptr);
}

TEST(PictureResources, SizesOfTheStripIconsAndLogo) {
    const std::map<std::string, std::pair<int, int>> sizes = {
        {"TOOLBAR_122", {128, 16}}, {"FLMICON0_16", {16, 16}}, {"FLMICON0_32", {32, 32}},
        {"FLMICON0_48", {48, 48}},  {"FLMICON0_64", {64, 64}}, {"FLMICON0_128", {128, 128}},
        {"TARNMAP_BMP", {96, 96}}};
    for (const auto& [name, size] : sizes) {
        ParsedXpm xpm;
        ASSERT_TRUE(ParseXpm(FindPictureResource(name.c_str()), xpm)) << name;
        EXPECT_EQ(xpm.width, size.first) << name;
        EXPECT_EQ(xpm.height, size.second) << name;
        // The strip and the icons sit on whatever is behind them.
        EXPECT_EQ(xpm.pixels[0][0], "None") << name;
    }
}

// What PaintMap makes of a picture: the fill from (0,0) over white (4-connected) takes
// the background, the white it does not reach takes the host colour.
TEST(HostPictures, OutlineKeepsTheHostColourInside) {
    struct Expected {
        const char* name;
        int width, height;
    };
    const Expected pictures[] = {
        {"BMP_PC", 39, 39},     {"BMP_HOST", 39, 39},   {"BMP_SERVER", 39, 39},
        {"BMP_ROUTER", 39, 39}, {"BMP_BRIDGE", 39, 27}, {"BMP_HUB", 39, 39},
        {"BMP_MTU", 29, 16},    {"BMP_NET", 41, 32},    {"BMP_PRINTER", 39, 27}};
    for (const Expected& expected : pictures) {
        SCOPED_TRACE(expected.name);
        ParsedXpm xpm;
        ASSERT_TRUE(ParseXpm(FindPictureResource(expected.name), xpm));
        ASSERT_EQ(xpm.width, expected.width);
        ASSERT_EQ(xpm.height, expected.height);
        std::set<std::string> colours;
        for (const auto& row : xpm.pixels) {
            colours.insert(row.begin(), row.end());
        }
        EXPECT_EQ(colours, (std::set<std::string>{"#000000", "#FFFFFF"}));
        ASSERT_EQ(xpm.pixels[0][0], "#FFFFFF");

        std::vector<std::vector<bool>> reached(xpm.height, std::vector<bool>(xpm.width));
        std::vector<std::pair<int, int>> todo = {{0, 0}};
        reached[0][0] = true;
        while (!todo.empty()) {
            auto [x, y] = todo.back();
            todo.pop_back();
            const int steps[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
            for (const auto& step : steps) {
                int nx = x + step[0], ny = y + step[1];
                if (nx >= 0 && ny >= 0 && nx < xpm.width && ny < xpm.height && !reached[ny][nx] &&
                    xpm.pixels[ny][nx] == "#FFFFFF") {
                    reached[ny][nx] = true;
                    todo.emplace_back(nx, ny);
                }
            }
        }
        int inside = 0;
        for (int y = 0; y < xpm.height; ++y) {
            for (int x = 0; x < xpm.width; ++x) {
                inside += xpm.pixels[y][x] == "#FFFFFF" && !reached[y][x];
            }
        }
        EXPECT_GE(inside, xpm.width * xpm.height / 5) << "too little shows the host colour";
        // The map fills through a scratch bitmap 39 pixels wide: a wider picture draws
        // nothing beyond it, so what the map shows there is only background.
        for (int y = 0; y < xpm.height; ++y) {
            for (int x = 39; x < xpm.width; ++x) {
                EXPECT_TRUE(reached[y][x])
                    << "drawn beyond the scratch bitmap at " << x << "," << y;
            }
        }
    }
}

} // namespace
