// The tables' own operations: order kept on deletion, limits, repaint areas.
#include "model/hosts.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<long> Edges(const platform::RECT& r) {
    return {r.left, r.top, r.right, r.bottom};
}

TEST(Hosts, DeletionKeepsOrderAndLimitsAreRefused) {
    ClearMap();
    for (const char* name : {"a", "b", "c"}) {
        int index = AppendHost(1, 2);
        CopyField(hostTable[index].name, sizeof hostTable[index].name, name);
    }
    EXPECT_STREQ(hostTable[0].resolvedAddr, "");
    EXPECT_EQ(hostTable[0].missed, 0u);
    DeleteHost(0);
    DeleteHost(5);
    DeleteHost(-1);
    ASSERT_EQ(hostCount, 2);
    EXPECT_STREQ(hostTable[0].name, "b");
    EXPECT_STREQ(hostTable[1].name, "c");

    while (hostCount < MAX_HOSTS)
        ASSERT_GE(AppendHost(10, 35), 0);
    EXPECT_EQ(AppendHost(0, 0), -1);
    EXPECT_EQ(hostCount, MAX_HOSTS);
    EXPECT_STREQ(hostTable[2].name, "newhost");
    EXPECT_EQ(hostTable[2].col, 10);
    EXPECT_EQ(hostTable[2].row, 35);

    while (lineCount < MAX_LINES)
        ASSERT_GE(AppendLine(3, 4), 0);
    EXPECT_EQ(AppendLine(0, 0), -1);
    EXPECT_EQ(lineTable[0].attr, 12);
    EXPECT_EQ(lineTable[0].x2, 3);
    EXPECT_EQ(lineTable[0].y2, 4);

    char field[5];
    CopyField(field, sizeof field, "abcdefgh");
    EXPECT_STREQ(field, "abcd");
}

TEST(Hosts, RepaintAreas) {
    SetGridFromClientSize(360, 350);
    ASSERT_EQ(gridCellWidth, 10);
    ASSERT_EQ(gridCellHeight, 10);
    HostRecord host{};
    host.col = 3;
    host.row = 4;
    CopyField(host.name, sizeof host.name, "abc");
    // Never drawn: width (10 / 4) * 3 + 4 = 10, height one cell; 3 pixels of frame around.
    EXPECT_EQ(Edges(HostRepaintArea(host)), (std::vector<long>{28, 38, 30 + 10 + 3, 40 + 10 + 3}));
    CopyField(host.name, sizeof host.name, "longname");
    EXPECT_EQ(HostRepaintArea(host).right, 30 + 2 * 6 + 4 + 3);
    host.drawWidth = 40;
    host.drawHeight = 25;
    EXPECT_EQ(Edges(HostRepaintArea(host)), (std::vector<long>{28, 38, 30 + 40 + 3, 40 + 25 + 3}));
    LineRecord line{12, 5, 1, 2, 3};
    EXPECT_EQ(Edges(LineRepaintArea(line)), (std::vector<long>{25 - 1, 15 - 1, 55 + 1, 35 + 1}));
}

} // namespace
