// Editing the map with the mouse: the editor's states and their prompts, hit tests,
// dragging hosts and line ends, adding and deleting hosts and lines.
#pragma once

// 0 monitoring; 1 editing with nothing pending; 2, 3, 6 and 7 a one-shot action pending.
extern int editMode;
