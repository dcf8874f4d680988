// The picture table: every resource is there once under its name, and the strip, the icons
// and the logo load at their sizes. (The host pictures are checked pixel for pixel where
// the map draws them.)
#include "platform/gdi.h"
#include "resources/pictures.h"
#include "resources/resources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

TEST(PictureResources, EveryPictureIsThereOnceUnderItsName) {
    RegisterResources();
    const std::vector<std::string> names = {
        "BMP_PC",        "BMP_HOST",    "BMP_SERVER",  "BMP_ROUTER",    "BMP_BRIDGE",
        "BMP_HUB",       "BMP_MTU",     "BMP_NET",     "BMP_PRINTER",   "TOOLBAR_122",
        "FLMICON0_16",   "FLMICON0_32", "FLMICON0_48", "FLMICON0_64",   "TARNMAP_BMP",
        "FLMICON0_128",  "BMP_PC_4X",   "BMP_HOST_4X", "BMP_SERVER_4X", "BMP_ROUTER_4X",
        "BMP_BRIDGE_4X", "BMP_HUB_4X",  "BMP_MTU_4X",  "BMP_NET_4X",    "BMP_PRINTER_4X"};
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
        platform::HBITMAP bitmap = platform::LoadBitmap(name.c_str());
        ASSERT_NE(bitmap, nullptr) << "the toolkit reads it";
        platform::BITMAP size{};
        platform::GetObject(bitmap, sizeof size, &size);
        platform::DeleteObject(bitmap);
        EXPECT_EQ(std::make_pair(size.bmWidth, size.bmHeight), sizes.at(name));
        // They sit on whatever is behind them: the top-left pixel's code is "None".
        int colours = 0, perPixel = 0;
        ASSERT_EQ(std::sscanf(xpm[0], "%*d %*d %d %d", &colours, &perPixel), 2);
        const std::string corner = std::string(xpm[1 + colours]).substr(0, perPixel) + " c None";
        EXPECT_NE(std::find(xpm + 1, xpm + 1 + colours, corner), xpm + 1 + colours);
    }
    EXPECT_EQ(distinct.size(), names.size()) << "each name has its own picture";
    for (const char* missing : {"BMP_P", "BMP_PCX", ""})
        EXPECT_EQ(FindPictureResource(missing), nullptr) << missing;
    EXPECT_EQ(FindPictureResource(nullptr), nullptr);
}

} // namespace
