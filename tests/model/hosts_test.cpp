// The tables' own operations: refusals of bad indices, repaint areas.
#include "model/hosts.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<long> Edges(const platform::RECT& r) {
    return {r.left, r.top, r.right, r.bottom};
}

// Deletions and additions are seen through the editor and the context menu; what only a
// direct caller could do is refused here: an index outside the table, a field too long.
TEST(Hosts, OutOfRangeDeletionsAndLongFieldsAreHarmless) {
    ClearMap();
    AppendHost(1, 2);
    DeleteHost(5);
    DeleteHost(-1);
    DeleteLine(0);
    EXPECT_EQ(hostCount, 1);
    EXPECT_EQ(lineCount, 0);
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
