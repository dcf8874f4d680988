// Status bar panes and toolbar tips.
#include "mapui/statusbar.h"

const char* const defaultStatusText = "Tarnmap network monitor - ready";

void ComputeStatusPanes(int width, int normWidth, int edges[3]) {
    edges[2] = width - 20;
    if (normWidth <= 0) {
        edges[1] = width - 68;
        edges[0] = width - 100;
        return;
    }
    edges[1] = width - 20 - normWidth - 4;
    edges[0] = width - 20 - 2 * normWidth - 8;
}

struct ToolTip {
    unsigned command;
    const char* text;
};

static const ToolTip toolTips[] = {
    {2025, "Create New Map"}, {2002, "Load Database"}, {2004, "Save Database"},
    {1010, "Check Systems"},  {1011, "Stop Check"},    {1013, "Quiet Alarm"},
    {2021, "Display Help"},   {2010, "Delete Line"},
};

const char* ToolTipText(unsigned command) {
    for (const ToolTip& tip : toolTips)
        if (tip.command == command)
            return tip.text;
    return nullptr;
}
