// The finger and whois windows and the query they share: the steps from the name look-up
// to the request sent, each told in the results box and each ended by a message (the
// look-up's answer, the connect's FD_CONNECT), then the answer appended piece by piece on
// WM_SOCKET_NOTIFY and closed with the completion text.
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

// Where a query stands; each step ends with a message.
enum QueryPhase { QUERY_IDLE, QUERY_LOOKING_UP, QUERY_CONNECTING, QUERY_READING };

// What differs between the two clients, and the state of a query in progress.
struct QueryClient {
    SOCKET* socket;           // fingerSocket or whoisSocket
    unsigned port;            // 79 or 43
    int resultsId;            // the results box
    const char* completeText; // appended when the server has closed
    bool finger;              // "receiving" shown, and the box emptied at the first piece
    HWND window;              // open from WM_INITDIALOG to WM_DESTROY; 0 when closed
    QueryPhase phase;
    HANDLE lookup;                                 // the server's look-up under way; 0 when none
    bool firstPiece;                               // nothing of the answer has come yet
    bool afterReturn;                              // a CR came last: a CR or LF next ends no line
    unsigned shown;                                // bytes of this answer put in the box
    sockaddr_storage remote;                       // the server, IPv4 or IPv6
    int remoteLength;                              // its length, 0 while not known
    char server[WHOIS_SERVER_LENGTH + 1];          // as typed
    char request[QUERY_TEXT_LENGTH + 3];           // the line sent, with its CR LF
    char piece[RECEIVE_SIZE + 1];                  // one piece of the answer as received
    alignas(hostent) char entry[MAXGETHOSTSTRUCT]; // the look-up's answer
};

static QueryClient fingerClient{&fingerSocket, FINGER_PORT, FINGER_RESULTS, "\r\n**complete**\r\n",
                                true};
static QueryClient whoisClient{&whoisSocket, WHOIS_PORT, WHOIS_RESULTS, "\r\n** complete **\r\n",
                               false};

static const char* const OUTPUT_CUT_TEXT = "\r\n(output cut)\r\n";

/*** the query ***/

static void ShowStep(QueryClient* client, const char* format, const char* text = "") {
    char line[WHOIS_SERVER_LENGTH + 40];
    std::snprintf(line, sizeof line, format, text);
    SetDlgItemText(client->window, client->resultsId, line);
}

// Ends the query: its look-up called off, no more notifications, the socket closed. True
// when a socket was closed.
static bool CloseQuerySocket(QueryClient* client) {
    if (client->lookup != 0)
        WSACancelAsyncRequest(client->lookup);
    client->lookup = 0;
    client->phase = QUERY_IDLE;
    SOCKET socket = *client->socket;
    if (socket == INVALID_SOCKET)
        return false;
    *client->socket = INVALID_SOCKET;
    WSAAsyncSelect(socket, client->window, 0, 0);
    return closesocket(socket) == 0;
}

// A step that failed: its text, and the query's end.
static void FailQuery(QueryClient* client, const char* format, const char* text = "") {
    ShowStep(client, format, text);
    CloseQuerySocket(client);
}

// Makes the first `count` bytes of the piece fit to show, in place, and terminates them. The
// piece goes on as text, so a zero byte would end it early and other control bytes would
// steer the box: each of them shows as a '.', and only line ends and tabs stay. A line ends
// with LF, CR LF or a CR alone (the box would run the lines on either side of a lone CR
// together); CRs in a row end one line, as does CR CR LF, also across pieces.
static void CleanAnswerPiece(QueryClient* client, unsigned count) {
    unsigned length = 0;
    for (unsigned index = 0; index < count; ++index) {
        unsigned char byte = static_cast<unsigned char>(client->piece[index]);
        bool lineEnd = byte == '\r' || byte == '\n';
        if (lineEnd && client->afterReturn) {
            client->afterReturn = byte == '\r'; // the rest of a line end begun by a CR
            continue;
        }
        client->afterReturn = byte == '\r';
        if (byte == '\r')
            byte = '\n'; // the box's line end
        else if ((byte < 0x20 && !lineEnd && byte != '\t') || byte == 0x7f)
            byte = '.';
        client->piece[length++] = static_cast<char>(byte);
    }
    client->piece[length] = '\0';
}

// Puts `count` bytes of the answer into the box, up to the first ANSWER_LIMIT bytes; a
// server that goes on beyond them is cut off there and not read any further.
static void ShowAnswerPiece(QueryClient* client, HWND box, int count) {
    unsigned room = ANSWER_LIMIT - client->shown;
    unsigned kept = static_cast<unsigned>(count) < room ? static_cast<unsigned>(count) : room;
    CleanAnswerPiece(client, kept);
    AppendResults(box, client->piece);
    client->shown += kept;
    if (client->shown < ANSWER_LIMIT)
        return;
    CloseQuerySocket(client);
    AppendResults(box, OUTPUT_CUT_TEXT);
}

// With the server's address: a socket bound to any local address, connecting without
// waiting; FD_CONNECT tells how the connect went.
static void ConnectToServer(QueryClient* client) {
    ShowStep(client, "creating socket\r\n");
    SOCKET connection = socket(client->remote.ss_family, SOCK_STREAM, 0);
    if (connection == INVALID_SOCKET) {
        ShowStep(client, "Failed to create socket\r\n");
        return;
    }
    *client->socket = connection;

    ShowStep(client, "binding socket\r\n");
    // Any local address of the server's family, port 0.
    sockaddr_storage local{};
    local.ss_family = client->remote.ss_family;
    if (bind(connection, reinterpret_cast<const sockaddr*>(&local), client->remoteLength) ==
        SOCKET_ERROR) {
        FailQuery(client, "Failed to bind socket\r\n");
        return;
    }
    WSAAsyncSelect(connection, client->window, WM_SOCKET_NOTIFY, FD_CONNECT | FD_READ | FD_CLOSE);
    ShowStep(client, "connecting\r\n");
    client->phase = QUERY_CONNECTING;
    if (connect(connection, reinterpret_cast<const sockaddr*>(&client->remote),
                client->remoteLength) == SOCKET_ERROR &&
        WSAGetLastError() != WSAEWOULDBLOCK)
        FailQuery(client, "Failed to connect\r\n");
}

// FD_CONNECT: the request goes out and the answer is awaited.
static void OnQueryConnected(QueryClient* client, int error) {
    if (error != 0) {
        FailQuery(client, "Failed to connect\r\n");
        return;
    }
    ShowStep(client, "sending query\r\n");
    int length = static_cast<int>(std::strlen(client->request));
    if (send(*client->socket, client->request, length, 0) != length) {
        FailQuery(client, "Failed to send request");
        return;
    }
    ShowStep(client, client->finger ? "receiving\r\n" : "");
    client->phase = QUERY_READING;
    client->firstPiece = true;
    client->afterReturn = false;
    client->shown = 0;
}

// Where to connect: an IPv4 or IPv6 address as it stands, a name by the first address its
// look-up of both families gives.
static void RunQuery(QueryClient* client, const char* server, const char* request) {
    // An answer still arriving from the previous query is given up: its socket would
    // otherwise stay open, unread, until the program ends.
    CloseQuerySocket(client);
    std::snprintf(client->server, sizeof client->server, "%s", server);
    std::snprintf(client->request, sizeof client->request, "%s", request);
    ShowStep(client, "looking up %s\r\n", client->server);
    client->remoteLength = ToolHostAddress(client->server, client->port, &client->remote);
    if (client->remoteLength != 0) {
        ConnectToServer(client);
        return;
    }
    client->lookup = WSAAsyncGetHostByNameAllFamilies(
        client->window, WM_TOOL_LOOKUP_DONE, client->server, client->entry, sizeof client->entry);
    if (client->lookup == 0)
        ShowStep(client, "Failed to resolve name %s\r\n", client->server);
    else
        client->phase = QUERY_LOOKING_UP;
}

static void OnQueryLookupDone(QueryClient* client, WPARAM wParam, LPARAM lParam) {
    if (client->lookup == 0 || reinterpret_cast<HANDLE>(wParam) != client->lookup)
        return;
    client->lookup = 0;
    client->phase = QUERY_IDLE;
    const auto* entry = reinterpret_cast<const hostent*>(client->entry);
    if (WSAGETASYNCERROR(lParam) == 0)
        client->remoteLength = ToolEntryAddress(entry, client->port, &client->remote);
    if (WSAGETASYNCERROR(lParam) != 0 || client->remoteLength == 0) {
        ShowStep(client, "Failed to resolve name %s\r\n", client->server);
        return;
    }
    ConnectToServer(client);
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

void FingerQuery(const char* text) {
    char request[QUERY_TEXT_LENGTH + 3];
    FormFingerRequest(text, fingerHost, sizeof fingerHost, request, sizeof request);
    RunQuery(&fingerClient, fingerHost, request);
}

void WhoisQuery(const char* server, const char* request) {
    RunQuery(&whoisClient, server, request);
}

// The socket's events: the connect's end, a piece of the answer, or its end.
static void OnSocketNotify(QueryClient* client, WPARAM wParam, LPARAM lParam) {
    // A notice still queued for a socket given up since is not ours to read.
    if (*client->socket == INVALID_SOCKET || static_cast<SOCKET>(wParam) != *client->socket)
        return;
    if (WSAGETSELECTEVENT(lParam) == FD_CONNECT) {
        if (client->phase == QUERY_CONNECTING)
            OnQueryConnected(client, WSAGETSELECTERROR(lParam));
        return;
    }
    if (client->phase != QUERY_READING)
        return;
    HWND box = GetDlgItem(client->window, client->resultsId);
    if (client->firstPiece && client->finger)
        SetWindowText(box, "");
    client->firstPiece = false;
    int count = recv(*client->socket, client->piece, RECEIVE_SIZE, 0);
    if (count > 0) {
        ShowAnswerPiece(client, box, count);
        return;
    }
    if (count == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK)
        return;
    if (CloseQuerySocket(client))
        AppendResults(box, client->completeText);
}

// The messages both windows share; false for the others.
static bool OnQueryMessage(QueryClient* client, HWND dialog, UINT message, WPARAM wParam,
                           LPARAM lParam) {
    switch (message) {
    case WM_SOCKET_NOTIFY:
        OnSocketNotify(client, wParam, lParam);
        return true;
    case WM_TOOL_LOOKUP_DONE:
        OnQueryLookupDone(client, wParam, lParam);
        return true;
    case WM_DESTROY:
        CloseQuerySocket(client);
        client->window = 0;
        return true;
    case WM_COMMAND:
        if (LOWORD(wParam) != IDCANCEL && LOWORD(wParam) != TOOL_EXIT_COMMAND)
            return false;
        DestroyWindow(dialog); // ends the query under way
        return true;
    default:
        return false;
    }
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

static void OnFingerCommand(HWND dialog) {
    GetDlgItemText(dialog, FINGER_STRING, fingerQuery, sizeof fingerQuery);
    SendDlgItemMessage(dialog, FINGER_STRING, EM_SETSEL, 0, -1);
    FingerQuery(fingerQuery);
}

INT_PTR FingerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (OnQueryMessage(&fingerClient, dialog, message, wParam, lParam))
        return message == WM_DESTROY ? 0 : 1;
    switch (message) {
    case WM_INITDIALOG:
        fingerClient.window = dialog;
        SetDlgItemText(dialog, FINGER_STRING, fingerQuery);
        ApplyToolFont(dialog, FINGER_RESULTS);
        LayoutQueryDialog(dialog, false);
        return 1;
    case WM_SIZE:
        LayoutQueryDialog(dialog, false);
        return 1;
    case WM_COMMAND:
        if (LOWORD(wParam) != IDOK && LOWORD(wParam) != TOOL_START_COMMAND)
            return 0;
        OnFingerCommand(dialog);
        return 1;
    default:
        return AnswerDialogColor(message, wParam);
    }
}

static void OnWhoisInit(HWND dialog) {
    whoisClient.window = dialog;
    GetPrivateProfileString(OPTIONS_SECTION, "WHOISHOST", DEFAULT_WHOIS_SERVER, whoisServer,
                            WHOIS_SETTING_LENGTH + 1, settingsFiles.global);
    SetDlgItemText(dialog, WHOIS_SERVER, whoisServer);
    SetDlgItemText(dialog, WHOIS_SEARCH, whoisQuery);
    ApplyToolFont(dialog, WHOIS_RESULTS);
    LayoutQueryDialog(dialog, true);
}

static void OnWhoisSearch(HWND dialog) {
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
    WhoisQuery(whoisServer, request);
}

INT_PTR WhoisDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (OnQueryMessage(&whoisClient, dialog, message, wParam, lParam))
        return message == WM_DESTROY ? 0 : 1;
    switch (message) {
    case WM_INITDIALOG:
        OnWhoisInit(dialog);
        return 1;
    case WM_SIZE:
        LayoutQueryDialog(dialog, true);
        return 1;
    case WM_COMMAND:
        if (LOWORD(wParam) != IDOK && LOWORD(wParam) != TOOL_START_COMMAND)
            return 0;
        OnWhoisSearch(dialog);
        return 1;
    default:
        return AnswerDialogColor(message, wParam);
    }
}

int ShowFingerTool(HWND owner) {
    return OpenToolWindow(owner, "DLG_FINGER", FingerDialogProc, &fingerClient.window) ? 1 : 0;
}

int ShowWhoisTool(HWND owner) {
    return OpenToolWindow(owner, "DLG_WHOIS", WhoisDialogProc, &whoisClient.window) ? 1 : 0;
}

bool QueryWindowsClosed() {
    return fingerClient.window == 0 && whoisClient.window == 0;
}
