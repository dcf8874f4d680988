// The finger and whois dialogs and the query they share: the steps from the name look-up
// to the request sent, each told in the results box, then the answer appended piece by
// piece on WM_SOCKET_NOTIFY and closed with the completion text.
#include "tools/fingerwhois.h"

#include "icmp/rawecho.h"
#include "model/settings.h"
#include "platform/dialog.h"
#include "platform/profile.h"
#include "resources/dialogcommon.h"
#include "tools/shared.h"

#include <cstdio>
#include <cstring>

using namespace platform;

/*** globals ***/

const char* const DEFAULT_WHOIS_SERVER = "whois.iana.org";

char fingerQuery[QUERY_TEXT_LENGTH + 1];
char fingerHost[QUERY_TEXT_LENGTH + 1];
char whoisQuery[QUERY_TEXT_LENGTH + 1];
char whoisServer[WHOIS_SERVER_LENGTH + 1];
SOCKET fingerSocket = INVALID_SOCKET;
SOCKET whoisSocket = INVALID_SOCKET;

// What differs between the two clients, and the state of a query in progress.
struct QueryClient {
    SOCKET* socket;           // fingerSocket or whoisSocket
    unsigned port;            // 79 or 43
    int resultsId;            // the results box
    const char* completeText; // appended when the server has closed
    bool finger;              // "receiving" shown, and the box emptied at the first piece
    bool busy;                // between the look-up and the request sent
    unsigned shown;           // bytes of this answer put in the box
    sockaddr_in remote;       // the server
    sockaddr_in local;        // any address, port 0
};

static QueryClient fingerClient{
    &fingerSocket, FINGER_PORT, FINGER_RESULTS, "\r\n**complete**\r\n", true, false, 0, {}, {}};
static QueryClient whoisClient{
    &whoisSocket, WHOIS_PORT, WHOIS_RESULTS, "\r\n** complete **\r\n", false, false, 0, {}, {}};

static const char* const OUTPUT_CUT_TEXT = "\r\n(output cut)\r\n";

/*** the query ***/

static void ShowStep(HWND box, const char* format, const char* text = "") {
    char line[WHOIS_SERVER_LENGTH + 40];
    std::snprintf(line, sizeof line, format, text);
    SetWindowText(box, line);
}

// Ends the reading of an answer: no more notifications, the socket closed. True when the
// close succeeded.
static bool CloseQuerySocket(QueryClient* client, HWND dialog) {
    SOCKET socket = *client->socket;
    if (socket == INVALID_SOCKET)
        return false;
    *client->socket = INVALID_SOCKET;
    WSAAsyncSelect(socket, dialog, 0, 0);
    return closesocket(socket) == 0;
}

// Puts `count` bytes of the answer (in sharedText) into the box, up to the first
// ANSWER_LIMIT bytes; a server that goes on beyond them is cut off there and not read any
// further. True while the answer is still read.
static bool ShowAnswerPiece(QueryClient* client, HWND dialog, HWND box, int count) {
    unsigned room = ANSWER_LIMIT - client->shown;
    unsigned kept = static_cast<unsigned>(count) < room ? static_cast<unsigned>(count) : room;
    sharedText[kept] = '\0';
    AppendResults(box, sharedText);
    client->shown += kept;
    if (client->shown < ANSWER_LIMIT)
        return true;
    CloseQuerySocket(client, dialog);
    AppendResults(box, OUTPUT_CUT_TEXT);
    return false;
}

// Where to connect: a dotted address as it stands, a name by its first address.
static bool ResolveServer(QueryClient* client, const char* server, HWND box) {
    ShowStep(box, "looking up %s\r\n", server);
    std::uint32_t address = inet_addr(server);
    if (address == INADDR_NONE) {
        hostent* entry = gethostbyname(server);
        if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr ||
            entry->h_length != 4) {
            ShowStep(box, "Failed to resolve name %s\r\n", server);
            return false;
        }
        std::memcpy(&address, entry->h_addr_list[0], sizeof address);
    }
    client->remote = sockaddr_in{};
    client->remote.sin_family = AF_INET;
    client->remote.sin_addr.s_addr = address;
    return true;
}

static int RunQuerySteps(QueryClient* client, HWND dialog, const char* server, const char* request,
                         HWND box) {
    if (!ResolveServer(client, server, box))
        return 0;

    ShowStep(box, "creating socket\r\n");
    SOCKET connection = socket(AF_INET, SOCK_STREAM, 0);
    if (connection == INVALID_SOCKET) {
        ShowStep(box, "Failed to create socket\r\n");
        return 0;
    }
    *client->socket = connection;

    ShowStep(box, "binding socket\r\n");
    client->local = sockaddr_in{};
    client->local.sin_family = AF_INET;
    client->local.sin_addr.s_addr = INADDR_ANY;
    if (bind(connection, reinterpret_cast<const sockaddr*>(&client->local), sizeof client->local) ==
        SOCKET_ERROR) {
        ShowStep(box, "Failed to bind socket\r\n");
        CloseQuerySocket(client, dialog);
        return 0;
    }

    client->remote.sin_port = htons(static_cast<std::uint16_t>(client->port));
    ShowStep(box, "connecting\r\n");
    if (connect(connection, reinterpret_cast<const sockaddr*>(&client->remote),
                sizeof client->remote) == SOCKET_ERROR) {
        ShowStep(box, "Failed to connect\r\n");
        CloseQuerySocket(client, dialog);
        return 0;
    }

    ShowStep(box, "sending query\r\n");
    int length = static_cast<int>(std::strlen(request));
    if (send(connection, request, length, 0) != length) {
        ShowStep(box, "Failed to send request");
        CloseQuerySocket(client, dialog);
        return 0;
    }

    ShowStep(box, client->finger ? "receiving\r\n" : "");
    std::memset(sharedText, 0, RECEIVE_SIZE + 4);
    WSAAsyncSelect(connection, dialog, WM_SOCKET_NOTIFY, FD_READ | FD_CLOSE);
    int count = recv(connection, sharedText, RECEIVE_SIZE, 0);
    if (client->finger)
        SetWindowText(box, "");
    client->shown = 0;
    if (count > 0)
        ShowAnswerPiece(client, dialog, box, count);
    return 1;
}

static int RunQuery(QueryClient* client, HWND dialog, const char* server, const char* request,
                    HWND box) {
    // An answer still arriving from the previous query is given up: its socket would
    // otherwise stay open, unread, until the program ends.
    CloseQuerySocket(client, dialog);
    client->busy = true;
    int result = RunQuerySteps(client, dialog, server, request, box);
    client->busy = false;
    return result;
}

void FormFingerRequest(const char* text, char* host, unsigned hostSize, char* request,
                       unsigned requestSize) {
    const char* at = std::strchr(text, '@');
    if (at == nullptr) {
        std::snprintf(host, hostSize, "%s", text);
        std::snprintf(request, requestSize, "\r\n");
        return;
    }
    std::snprintf(host, hostSize, "%s", at + 1);
    std::snprintf(request, requestSize, "%.*s\r\n", static_cast<int>(at - text), text);
}

int FingerQuery(HWND dialog, const char* text, HWND box) {
    char request[QUERY_TEXT_LENGTH + 3];
    FormFingerRequest(text, fingerHost, sizeof fingerHost, request, sizeof request);
    return RunQuery(&fingerClient, dialog, fingerHost, request, box);
}

int WhoisQuery(HWND dialog, const char* server, const char* request, HWND box) {
    return RunQuery(&whoisClient, dialog, server, request, box);
}

// One piece of the answer, or its end.
static void OnSocketNotify(QueryClient* client, HWND dialog, WPARAM wParam) {
    // A notice still queued for a socket given up since is not ours to read.
    if (*client->socket == INVALID_SOCKET || static_cast<SOCKET>(wParam) != *client->socket)
        return;
    HWND box = GetDlgItem(dialog, client->resultsId);
    int count = recv(*client->socket, sharedText, RECEIVE_SIZE, 0);
    if (count > 0) {
        ShowAnswerPiece(client, dialog, box, count);
        return;
    }
    if (count == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK)
        return;
    if (CloseQuerySocket(client, dialog))
        AppendResults(box, client->completeText);
}

/*** the dialogs ***/

void LayoutQueryDialog(HWND dialog, bool whois) {
    RECT client;
    GetClientRect(dialog, &client);
    int buttonsX = PlaceToolButtons(dialog, client);
    RECT field;
    if (whois) {
        ResizeControl(dialog, WHOIS_SERVER, client.right / 2, -1);
        if (GetControlRect(dialog, WHOIS_SEARCH, &field))
            ResizeControl(dialog, WHOIS_SEARCH, client.right - 2 * field.left, -1);
    } else if (GetControlRect(dialog, FINGER_STRING, &field)) {
        ResizeControl(dialog, FINGER_STRING, buttonsX - 2 * field.left, -1);
    }
    int resultsId = whois ? WHOIS_RESULTS : FINGER_RESULTS;
    RECT results;
    if (GetControlRect(dialog, resultsId, &results))
        ResizeControl(dialog, resultsId, client.right - 2 * results.left,
                      client.bottom - results.top - results.left);
}

// Exit: a query still waiting is cancelled first and the dialog stays for another try
// (the cancelled step tells its failure); otherwise the answer's socket goes with it.
static void ExitQueryDialog(QueryClient* client, HWND dialog) {
    if (client->busy && WSAIsBlocking()) {
        WSACancelBlockingCall();
        return;
    }
    CloseQuerySocket(client, dialog);
    EndDialog(dialog, 1);
}

static void OnFingerCommand(HWND dialog) {
    if (fingerClient.busy)
        return; // one query at a time; Exit cancels the one waiting
    GetDlgItemText(dialog, FINGER_STRING, fingerQuery, sizeof fingerQuery);
    SendDlgItemMessage(dialog, FINGER_STRING, EM_SETSEL, 0, -1);
    FingerQuery(dialog, fingerQuery, GetDlgItem(dialog, FINGER_RESULTS));
}

INT_PTR FingerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemText(dialog, FINGER_STRING, fingerQuery);
        ApplyToolFont(dialog, FINGER_RESULTS);
        LayoutQueryDialog(dialog, false);
        return 1;
    case WM_SIZE:
        LayoutQueryDialog(dialog, false);
        return 1;
    case WM_SOCKET_NOTIFY:
        OnSocketNotify(&fingerClient, dialog, wParam);
        return 1;
    case WM_DESTROY:
        CloseQuerySocket(&fingerClient, dialog);
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case TOOL_START_COMMAND:
            OnFingerCommand(dialog);
            return 1;
        case IDCANCEL:
        case TOOL_EXIT_COMMAND:
            ExitQueryDialog(&fingerClient, dialog);
            return 1;
        default:
            return 0;
        }
    default:
        return AnswerDialogColor(message, wParam);
    }
}

static void OnWhoisInit(HWND dialog) {
    GetPrivateProfileString(OPTIONS_SECTION, "WHOISHOST", DEFAULT_WHOIS_SERVER, whoisServer,
                            WHOIS_SETTING_LENGTH + 1, settingsFiles.global);
    SetDlgItemText(dialog, WHOIS_SERVER, whoisServer);
    SetDlgItemText(dialog, WHOIS_SEARCH, whoisQuery);
    ApplyToolFont(dialog, WHOIS_RESULTS);
    LayoutQueryDialog(dialog, true);
}

static void OnWhoisSearch(HWND dialog) {
    if (whoisClient.busy)
        return;
    GetDlgItemText(dialog, WHOIS_SERVER, whoisServer, sizeof whoisServer);
    if (!WritePrivateProfileString(OPTIONS_SECTION, "WHOISHOST", whoisServer,
                                   settingsFiles.global)) {
        char text[SETTINGS_PATH_LENGTH + 128];
        std::snprintf(text, sizeof text,
                      "The whois server could not be saved to \"%s\"; the next Whois starts "
                      "with the one saved before.",
                      settingsFiles.global);
        MessageBox(dialog, text, "Whois", MB_OK | MB_ICONEXCLAMATION);
    }
    GetDlgItemText(dialog, WHOIS_SEARCH, whoisQuery, sizeof whoisQuery);
    SendDlgItemMessage(dialog, WHOIS_SEARCH, EM_SETSEL, 0, -1);
    char request[QUERY_TEXT_LENGTH + 3];
    std::snprintf(request, sizeof request, "%s\r\n", whoisQuery);
    WhoisQuery(dialog, whoisServer, request, GetDlgItem(dialog, WHOIS_RESULTS));
}

INT_PTR WhoisDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        OnWhoisInit(dialog);
        return 1;
    case WM_SIZE:
        LayoutQueryDialog(dialog, true);
        return 1;
    case WM_SOCKET_NOTIFY:
        OnSocketNotify(&whoisClient, dialog, wParam);
        return 1;
    case WM_DESTROY:
        CloseQuerySocket(&whoisClient, dialog);
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case TOOL_START_COMMAND:
            OnWhoisSearch(dialog);
            return 1;
        case IDCANCEL:
        case TOOL_EXIT_COMMAND:
            ExitQueryDialog(&whoisClient, dialog);
            return 1;
        default:
            return 0;
        }
    default:
        return AnswerDialogColor(message, wParam);
    }
}

int ShowFingerTool(HWND owner) {
    return static_cast<int>(DialogBox(owner, "DLG_FINGER", FingerDialogProc));
}

int ShowWhoisTool(HWND owner) {
    return static_cast<int>(DialogBox(owner, "DLG_WHOIS", WhoisDialogProc));
}
