// Parents from Lines: the proposal walks the drawn lines outward from the root, so that
// each host's proposed parent is one step nearer to it; the dialog shows the proposals,
// lets the user drop one or choose another parent, and writes what is accepted.
#include "mapui/parentlines.h"

#include "mapui/editor.h"
#include "model/parents.h"
#include "platform/dialog.h"
#include "resources/dialogcommon.h"
#include "resources/dialogs_hostinfo.h"

#include <cstdio>

using namespace platform;

// The dialog's proposals: item i of the list is host children[i] behind parents[i].
struct ParentLinesState {
    int children[MAX_HOSTS];
    int parents[MAX_HOSTS];
    int count;
};
static ParentLinesState proposal;

/*** the proposal ***/

// The hosts at both ends of line `index`, -1 where no host sits.
static void LineEnds(int index, int* first, int* second) {
    const LineRecord& line = lineTable[index];
    *first = HitTestHost(line.x1, line.y1);
    *second = HitTestHost(line.x2, line.y2);
}

int ProposeParents(int root, int proposed[MAX_HOSTS]) {
    int distance[MAX_HOSTS];
    int queue[MAX_HOSTS];
    for (int i = 0; i < hostCount; ++i) {
        distance[i] = -1;
        proposed[i] = -1;
    }
    if (root < 0 || root >= hostCount)
        return 0;
    int head = 0, tail = 0, count = 0;
    distance[root] = 0;
    queue[tail++] = root;
    while (head < tail) {
        int near = queue[head++];
        for (int line = 0; line < lineCount; ++line) {
            int first, second;
            LineEnds(line, &first, &second);
            int far = first == near ? second : second == near ? first : -1;
            if (far < 0 || distance[far] >= 0)
                continue;
            distance[far] = distance[near] + 1;
            queue[tail++] = far;
            if (HostParent(hostTable[far]) < 0) {
                proposed[far] = near;
                ++count;
            }
        }
    }
    return count;
}

/*** the dialog ***/

static void FillHostList(HWND dialog, int id) {
    for (int i = 0; i < hostCount; ++i)
        SendDlgItemMessage(dialog, id, CB_ADDSTRING, 0,
                           reinterpret_cast<LPARAM>(hostTable[i].name));
}

static void ShowProposals(HWND dialog) {
    SendDlgItemMessage(dialog, PARENTLINES_LIST, LB_RESETCONTENT, 0, 0);
    for (int i = 0; i < proposal.count; ++i) {
        char text[2 * sizeof HostRecord::name + 16];
        std::snprintf(text, sizeof text, "%.16s behind %.16s", hostTable[proposal.children[i]].name,
                      hostTable[proposal.parents[i]].name);
        SendDlgItemMessage(dialog, PARENTLINES_LIST, LB_ADDSTRING, 0,
                           reinterpret_cast<LPARAM>(text));
    }
}

static void Propose(HWND dialog) {
    LRESULT root = SendDlgItemMessage(dialog, PARENTLINES_ROOT, CB_GETCURSEL, 0, 0);
    int proposed[MAX_HOSTS];
    ProposeParents(root >= 0 ? static_cast<int>(root) : -1, proposed);
    proposal.count = 0;
    for (int i = 0; i < hostCount; ++i)
        if (proposed[i] >= 0) {
            proposal.children[proposal.count] = i;
            proposal.parents[proposal.count++] = proposed[i];
        }
    ShowProposals(dialog);
}

static int SelectedProposal(HWND dialog) {
    LRESULT item = SendDlgItemMessage(dialog, PARENTLINES_LIST, LB_GETCURSEL, 0, 0);
    return item >= 0 && item < proposal.count ? static_cast<int>(item) : -1;
}

static void DropProposal(HWND dialog) {
    int item = SelectedProposal(dialog);
    if (item < 0)
        return;
    for (int i = item; i + 1 < proposal.count; ++i) {
        proposal.children[i] = proposal.children[i + 1];
        proposal.parents[i] = proposal.parents[i + 1];
    }
    --proposal.count;
    ShowProposals(dialog);
}

static void SetProposal(HWND dialog) {
    int item = SelectedProposal(dialog);
    LRESULT parent = SendDlgItemMessage(dialog, PARENTLINES_BEHIND, CB_GETCURSEL, 0, 0);
    if (item < 0 || parent < 0 || parent >= hostCount || parent == proposal.children[item])
        return;
    proposal.parents[item] = static_cast<int>(parent);
    ShowProposals(dialog);
    SendDlgItemMessage(dialog, PARENTLINES_LIST, LB_SETCURSEL, item, 0);
}

// Each accepted parent is checked against those set before it: one that would close a
// loop is left out, and the loops are told.
static void AcceptProposals(HWND dialog) {
    char refused[PARENT_TEXT_LENGTH + 1] = "";
    bool written = true;
    for (int i = 0; i < proposal.count; ++i) {
        char loop[PARENT_TEXT_LENGTH + 1];
        if (ParentAllowed(proposal.children[i], proposal.parents[i], loop, sizeof loop))
            written &= SetHostParent(proposal.children[i], proposal.parents[i]);
        else if (refused[0] == '\0')
            std::snprintf(refused, sizeof refused, "%s", loop);
    }
    char text[PARENT_TEXT_LENGTH + 128];
    if (refused[0] != '\0') {
        std::snprintf(text, sizeof text,
                      "Parents that would make the hosts sit behind one another in a loop were "
                      "left out (%s).",
                      refused);
        MessageBox(dialog, text, "Parents from Lines", MB_OK | MB_ICONEXCLAMATION);
    }
    if (!written)
        MessageBox(dialog, "The parents could not all be saved to the map's settings file.",
                   "Parents from Lines", MB_OK | MB_ICONEXCLAMATION);
    EndDialog(dialog, 1);
}

static void OnParentLinesCommand(HWND dialog, WPARAM command) {
    switch (command) {
    case PARENTLINES_PROPOSE:
        Propose(dialog);
        break;
    case PARENTLINES_DROP:
        DropProposal(dialog);
        break;
    case PARENTLINES_SET:
        SetProposal(dialog);
        break;
    case IDOK:
        AcceptProposals(dialog);
        break;
    case IDCANCEL:
        EndDialog(dialog, 0);
        break;
    default:
        break;
    }
}

static INT_PTR ParentLinesProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        proposal.count = 0;
        FillHostList(dialog, PARENTLINES_ROOT);
        FillHostList(dialog, PARENTLINES_BEHIND);
        return 1;
    case WM_COMMAND:
        OnParentLinesCommand(dialog, wParam);
        return 1;
    default:
        return AnswerDialogColor(message, wParam);
    }
}

int ShowParentsFromLines(HWND owner) {
    return DialogBox(owner, "DLG_PARENTLINES", ParentLinesProc) == 1 ? 1 : 0;
}
