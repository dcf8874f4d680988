// The tables' own operations: order kept on deletion, limits, repaint areas.
#include "model/hosts.h"

#include <gtest/gtest.h>

namespace {

TEST(Hosts, DeletionKeepsOrderAndLimitsAreRefused) {
    ClearMap();
    for (const char* name : {"a", "b", "c"}) {
        int index = AppendHost(1, 2);
        CopyField(hostTable[index].name, sizeof hostTable[index].name, name);
    }
    DeleteHost(0);
    ASSERT_EQ(hostCount, 2);
    EXPECT_STREQ(hostTable[0].name, "b");
    EXPECT_STREQ(hostTable[1].name, "c");
    DeleteHost(5);
    DeleteHost(-1);
    EXPECT_EQ(hostCount, 2);

    while (hostCount < MAX_HOSTS)
        ASSERT_GE(AppendHost(0, 0), 0);
    EXPECT_EQ(AppendHost(0, 0), -1);
    EXPECT_EQ(hostCount, MAX_HOSTS);

    while (lineCount < MAX_LINES)
        ASSERT_GE(AppendLine(3, 4), 0);
    EXPECT_EQ(AppendLine(0, 0), -1);
    EXPECT_EQ(lineTable[0].attr, 12);
    EXPECT_EQ(lineTable[0].x2, 3);
    EXPECT_EQ(lineTable[0].y2, 4);
}

TEST(Hosts, NewHostRecordAndCopyCutsFields) {
    ClearMap();
    int index = AppendHost(10, 35);
    const HostRecord& host = hostTable[index];
    EXPECT_STREQ(host.name, "newhost");
    EXPECT_EQ(host.col, 10);
    EXPECT_EQ(host.row, 35);
    EXPECT_EQ(host.missed, 0u);
    EXPECT_STREQ(host.resolvedAddr, "");

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
    // Never drawn: width (10 / 4) * 3 + 4 = 10, height one cell.
    platform::RECT area = HostRepaintArea(host);
    EXPECT_EQ(area.left, 28);
    EXPECT_EQ(area.top, 38);
    EXPECT_EQ(area.right, 30 + 10 + 3);
    EXPECT_EQ(area.bottom, 40 + 10 + 3);
    CopyField(host.name, sizeof host.name, "longname");
    EXPECT_EQ(HostRepaintArea(host).right, 30 + 2 * 6 + 4 + 3);
    host.drawWidth = 40;
    host.drawHeight = 25;
    area = HostRepaintArea(host);
    EXPECT_EQ(area.right, 30 + 40 + 3);
    EXPECT_EQ(area.bottom, 40 + 25 + 3);

    LineRecord line{12, 5, 1, 2, 3};
    area = LineRepaintArea(line);
    EXPECT_EQ(area.left, 25 - 1);
    EXPECT_EQ(area.right, 55 + 1);
    EXPECT_EQ(area.top, 15 - 1);
    EXPECT_EQ(area.bottom, 35 + 1);
}

} // namespace
