// The seams of testing.h: queued answers and hooks taken by the dialogs, boxes and menus,
// the journal, input made as toolkit events, and window pictures written as PNG.
#include "platform/testing.h"

#include "platform/window_internal.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QWidget>

#include <deque>

namespace platform {

/*** globals ***/

static std::deque<std::function<void(HWND)>> dialogHooks;
static std::deque<int> messageBoxAnswers;
static std::deque<std::pair<std::string, bool>> fileDialogAnswers; // path, cancelled
static std::deque<UINT> popupMenuAnswers;
static bool answerUnasked = false;
static std::function<void(int, const char*)> statusBarWatcher;
static std::string nextBoxPicture; // where the next box is drawn; empty: nowhere

void QueueDialogHook(std::function<void(HWND dialog)> hook) {
    dialogHooks.push_back(std::move(hook));
}

void QueueMessageBoxAnswer(int answer) {
    messageBoxAnswers.push_back(answer);
}

void QueueFileDialogAnswer(const char* path) {
    fileDialogAnswers.emplace_back(path != nullptr ? path : "", path == nullptr);
}

void QueuePopupMenuAnswer(UINT id) {
    popupMenuAnswers.push_back(id);
}

void SaveNextBoxImage(const char* path) {
    nextBoxPicture = path != nullptr ? path : "";
}

bool PictureAsked() {
    return !nextBoxPicture.empty();
}

void SavePictureIfAsked(QWidget* box) {
    if (nextBoxPicture.empty())
        return;
    box->setAttribute(Qt::WA_DontShowOnScreen);
    box->show();
    box->grab().save(QString::fromLocal8Bit(nextBoxPicture.c_str()), "PNG");
    box->hide();
    box->setAttribute(Qt::WA_DontShowOnScreen, false);
    nextBoxPicture.clear();
}

void AnswerUnaskedQuestions(bool on) {
    answerUnasked = on;
}

void ResetTestingSeams() {
    dialogHooks.clear();
    messageBoxAnswers.clear();
    fileDialogAnswers.clear();
    popupMenuAnswers.clear();
    answerUnasked = false;
    statusBarWatcher = nullptr;
    nextBoxPicture.clear();
    ClearJournal();
}

void WatchStatusBarText(std::function<void(int part, const char* text)> watcher) {
    statusBarWatcher = std::move(watcher);
}

void NoteStatusBarText(int part, const char* text) {
    if (!statusBarWatcher)
        return;
    // A copy, so that a watcher may stop or replace itself while it runs.
    std::function<void(int, const char*)> watcher = statusBarWatcher;
    watcher(part, text != nullptr ? text : "");
}

bool TakeMessageBoxAnswer(int defaultAnswer, int* answer) {
    if (!messageBoxAnswers.empty()) {
        *answer = messageBoxAnswers.front();
        messageBoxAnswers.pop_front();
        return true;
    }
    *answer = defaultAnswer;
    return answerUnasked;
}

bool TakeFileDialogAnswer(std::string* path, bool* cancelled) {
    if (!fileDialogAnswers.empty()) {
        *path = fileDialogAnswers.front().first;
        *cancelled = fileDialogAnswers.front().second;
        fileDialogAnswers.pop_front();
        return true;
    }
    path->clear();
    *cancelled = true;
    return answerUnasked;
}

bool TakePopupMenuAnswer(UINT* id) {
    if (!popupMenuAnswers.empty()) {
        *id = popupMenuAnswers.front();
        popupMenuAnswers.pop_front();
        return true;
    }
    *id = 0;
    return answerUnasked;
}

bool TakeDialogHook(std::function<void(HWND dialog)>* hook) {
    if (dialogHooks.empty())
        return false;
    *hook = std::move(dialogHooks.front());
    dialogHooks.pop_front();
    return true;
}

/*** input ***/

static Qt::KeyboardModifiers ModifiersOf(WPARAM keys) {
    Qt::KeyboardModifiers modifiers;
    if ((keys & MK_SHIFT) != 0)
        modifiers |= Qt::ShiftModifier;
    if ((keys & MK_CONTROL) != 0)
        modifiers |= Qt::ControlModifier;
    return modifiers;
}

void SimulateMouse(HWND window, UINT message, int x, int y, WPARAM keys) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr)
        return;
    QEvent::Type type = QEvent::MouseMove;
    Qt::MouseButton button = Qt::NoButton;
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
        type = QEvent::MouseButtonPress;
        break;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
        type = QEvent::MouseButtonRelease;
        break;
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDBLCLK:
        type = QEvent::MouseButtonDblClick;
        break;
    default:
        break;
    }
    if (message == WM_LBUTTONDOWN || message == WM_LBUTTONUP || message == WM_LBUTTONDBLCLK)
        button = Qt::LeftButton;
    if (message == WM_RBUTTONDOWN || message == WM_RBUTTONUP || message == WM_RBUTTONDBLCLK)
        button = Qt::RightButton;
    Qt::MouseButtons buttons;
    if ((keys & MK_LBUTTON) != 0)
        buttons |= Qt::LeftButton;
    if ((keys & MK_RBUTTON) != 0)
        buttons |= Qt::RightButton;
    QWidget* widget = record->client;
    QPointF local(x, y);
    QPointF global = widget->mapToGlobal(local);
    QMouseEvent event(type, local, global, button, buttons, ModifiersOf(keys));
    QApplication::sendEvent(widget, &event);
}

static int QtKeyOf(int virtualKey) {
    if ((virtualKey >= 'A' && virtualKey <= 'Z') || (virtualKey >= '0' && virtualKey <= '9'))
        return virtualKey; // Qt::Key_A.. and Qt::Key_0.. have the same values
    switch (virtualKey) {
    case VK_BACK:
        return Qt::Key_Backspace;
    case VK_TAB:
        return Qt::Key_Tab;
    case VK_RETURN:
        return Qt::Key_Return;
    case VK_ESCAPE:
        return Qt::Key_Escape;
    case VK_SPACE:
        return Qt::Key_Space;
    case VK_LEFT:
        return Qt::Key_Left;
    case VK_RIGHT:
        return Qt::Key_Right;
    case VK_UP:
        return Qt::Key_Up;
    case VK_DOWN:
        return Qt::Key_Down;
    case VK_DELETE:
        return Qt::Key_Delete;
    case VK_F1 + 10:
        return Qt::Key_F11;
    default:
        return 0;
    }
}

void SimulateKey(HWND window, int virtualKey, char character) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr)
        return;
    QString text = character != 0 ? QString(QChar::fromLatin1(character)) : QString();
    QKeyEvent press(QEvent::KeyPress, QtKeyOf(virtualKey), Qt::NoModifier, text);
    QApplication::sendEvent(record->client, &press);
    QKeyEvent release(QEvent::KeyRelease, QtKeyOf(virtualKey), Qt::NoModifier, text);
    if (FindWindowRecord(window) != nullptr)
        QApplication::sendEvent(record->client, &release);
}

void SimulateClick(HWND button) {
    WindowRecord* record = FindWindowRecord(button);
    if (record == nullptr)
        return;
    if (auto* widget = qobject_cast<QAbstractButton*>(record->client)) {
        widget->click();
        return;
    }
    // A drawn button: press and release in its middle.
    int x = record->client->width() / 2;
    int y = record->client->height() / 2;
    SimulateMouse(button, WM_LBUTTONDOWN, x, y, MK_LBUTTON);
    SimulateMouse(button, WM_LBUTTONUP, x, y, 0);
}

void SimulateCloseBox(HWND window) {
    if (WindowRecord* record = FindWindowRecord(window))
        record->frame->window()->close();
}

static QAction* FindAction(const QList<QAction*>& actions, UINT id) {
    for (QAction* action : actions) {
        if (action->menu() != nullptr) {
            if (QAction* found = FindAction(action->menu()->actions(), id))
                return found;
        } else if (!action->isSeparator() && action->data().toUInt() == id) {
            return action;
        }
    }
    return nullptr;
}

void SimulateMenuChoice(HWND window, UINT id) {
    WindowRecord* record = FindWindowRecord(window);
    QMenuBar* bar = record != nullptr ? FrameMenuBar(record, false) : nullptr;
    if (bar == nullptr)
        return;
    if (QAction* action = FindAction(bar->actions(), id))
        action->trigger(); // does nothing for a greyed item, as a click would
}

void SimulateTyping(HWND control, const char* text) {
    WindowRecord* record = FindWindowRecord(control);
    if (record == nullptr || text == nullptr)
        return;
    QWidget* target = record->client;
    if (auto* combo = qobject_cast<QComboBox*>(target))
        if (combo->lineEdit() != nullptr)
            target = combo->lineEdit();
    for (QChar each : QString::fromUtf8(text)) {
        QString character(each);
        int key = each == QLatin1Char('\n') ? static_cast<int>(Qt::Key_Return)
                                            : character.toUpper().at(0).unicode();
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, character);
        QApplication::sendEvent(target, &press);
    }
}

std::string ShownText(HWND window) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr)
        return std::string();
    if (record->frame != nullptr && record->frame->isWindow())
        return record->frame->windowTitle().toStdString();
    QWidget* widget = record->client;
    if (auto* combo = qobject_cast<QComboBox*>(widget))
        return combo->currentText().toStdString();
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
        return edit->text().toStdString();
    return std::string();
}

void SimulateSelect(HWND control, int index) {
    WindowRecord* record = FindWindowRecord(control);
    if (record == nullptr)
        return;
    if (auto* list = qobject_cast<QListWidget*>(record->client))
        list->setCurrentRow(index);
    else if (auto* combo = qobject_cast<QComboBox*>(record->client))
        combo->setCurrentIndex(index);
}

/*** pictures ***/

bool SaveWindowImage(HWND window, const char* path) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr || path == nullptr)
        return false;
    if (record->kind == WindowKind::Window && record->children.empty())
        return record->backing.save(QString::fromLocal8Bit(path), "PNG");
    QWidget* widget = record->kind == WindowKind::Window ? record->client : record->frame;
    return widget->grab().save(QString::fromLocal8Bit(path), "PNG");
}

std::uint32_t WindowPixel(HWND window, int x, int y) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr || !record->backing.valid(x, y))
        return static_cast<std::uint32_t>(-1);
    QRgb pixel = record->backing.pixel(x, y);
    return static_cast<std::uint32_t>(qRed(pixel)) |
           (static_cast<std::uint32_t>(qGreen(pixel)) << 8) |
           (static_cast<std::uint32_t>(qBlue(pixel)) << 16);
}

} // namespace platform
