// The tables' own operations: refusals of bad indices. The repaint areas are checked where
// the map is drawn.
#include "model/hosts.h"

#include <gtest/gtest.h>

namespace {

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

} // namespace
