// The picture table and the XPM data behind it: every resource is there under its name,
// every XPM is well formed, and the host pictures keep the host colour inside their
// outline when the map fills the background from the top-left corner.
#include "resources/pictures.h"
#include "support/ui_fixture.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// Every picture is there once under its name, in any case; the strip, the icons and the
// logo have their sizes and sit on whatever is behind them.
TEST(PictureResources, EveryPictureIsThereOnceUnderItsName) {
    const std::vector<std::string> names = {
        "BMP_PC",      "BMP_HOST",    "BMP_SERVER",  "BMP_ROUTER",  "BMP_BRIDGE",  "BMP_HUB",
        "BMP_MTU",     "BMP_NET",     "BMP_PRINTER", "TOOLBAR_122", "FLMICON0_16", "FLMICON0_32",
        "FLMICON0_48", "FLMICON0_64", "TARNMAP_BMP", "FLMICON0_128"};
    const std::map<std::string, std::pair<int, int>> sizes = {
        {"TOOLBAR_122", {128, 16}}, {"FLMICON0_16", {16, 16}}, {"FLMICON0_32", {32, 32}},
        {"FLMICON0_48", {48, 48}},  {"FLMICON0_64", {64, 64}}, {"FLMICON0_128", {128, 128}},
        {"TARNMAP_BMP", {96, 96}}};
    ASSERT_EQ(pictureResourceCount, static_cast<int>(names.size()));
    std::set<const char* const*> distinct;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const char* const* xpm = FindPictureResource(name.c_str());
        ASSERT_NE(xpm, nullptr);
        distinct.insert(xpm);
        std::string lower = name;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(FindPictureResource(lower.c_str()), xpm) << "names match in any case";
        if (sizes.count(name) == 0)
            continue;
        ParsedXpm parsed;
        ASSERT_TRUE(ParseXpm(xpm, parsed));
        EXPECT_EQ(std::make_pair(parsed.width, parsed.height), sizes.at(name));
        EXPECT_EQ(parsed.pixels[0][0], "None");
    }
    EXPECT_EQ(distinct.size(), names.size()) << "each name has its own picture";
    for (const char* missing : {"BMP_P", "BMP_PCX", ""})
        EXPECT_EQ(FindPictureResource(missing), nullptr) << missing;
    EXPECT_EQ(FindPictureResource(nullptr), nullptr);
}

// What PaintMap makes of a picture: the fill from (0,0) over white (4-connected) takes
// the background, the white it does not reach takes the host colour.
TEST(HostPictures, OutlineKeepsTheHostColourInside) {
    const std::pair<const char*, std::pair<int, int>> pictures[] = {
        {"BMP_PC", {39, 39}},     {"BMP_HOST", {39, 39}},   {"BMP_SERVER", {39, 39}},
        {"BMP_ROUTER", {39, 39}}, {"BMP_BRIDGE", {39, 27}}, {"BMP_HUB", {39, 39}},
        {"BMP_MTU", {29, 16}},    {"BMP_NET", {41, 32}},    {"BMP_PRINTER", {39, 27}}};
    for (const auto& [name, size] : pictures) {
        SCOPED_TRACE(name);
        ParsedXpm xpm;
        ASSERT_TRUE(ParseXpm(FindPictureResource(name), xpm));
        ASSERT_EQ(std::make_pair(xpm.width, xpm.height), size);
        std::set<std::string> colours;
        for (const auto& row : xpm.pixels)
            colours.insert(row.begin(), row.end());
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
        for (int y = 0; y < xpm.height; ++y)
            for (int x = 0; x < xpm.width; ++x)
                inside += xpm.pixels[y][x] == "#FFFFFF" && !reached[y][x];
        EXPECT_GE(inside, xpm.width * xpm.height / 5) << "too little shows the host colour";
        // The map fills through a scratch bitmap 39 pixels wide: a wider picture draws
        // nothing beyond it, so what the map shows there is only background.
        for (int y = 0; y < xpm.height; ++y)
            for (int x = 39; x < xpm.width; ++x)
                EXPECT_TRUE(reached[y][x])
                    << "drawn beyond the scratch bitmap at " << x << "," << y;
    }
}

} // namespace
