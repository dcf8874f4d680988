// The picture table: every resource is there once under its name, and the XPM data of the
// strip, the icons and the logo is well formed at its size. (The host pictures are checked
// pixel for pixel where the map draws them.)
#include "resources/pictures.h"
#include "support/ui_fixture.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// The strip, the icons and the logo sit on whatever is behind them.
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

} // namespace
