// The help window: our HTML pages in a text browser with a Close button (Escape closes it
// too), one window for the whole program, opened at the page of a topic. It is never
// blocked: a modal dialog or box blocks every window outside itself, so while one is up
// the help window is made a window of the topmost one, and leaves it when it hides.
#include "platform/help.h"
#include "platform/system.h"
#include "platform/testing.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFile>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

#include <cstdio>
#include <cstring>

namespace platform {

namespace {

struct HelpTopic {
    DWORD topic;
    const char* page;
};

const HelpTopic helpTopics[] = {
    {300, "main-window.html"},
    {400, "options.html"},
    {500, "host-information.html"},
    {600, "edit-mode.html"},
};

// A dialog for its keys (Escape closes it); it is shown modeless.
class HelpWindow final : public QDialog {
  public:
    explicit HelpWindow(const QString& directory) {
        setWindowTitle(QStringLiteral("Tarnmap Help"));
        browser_ = new QTextBrowser(this);
        browser_->setSearchPaths({directory});
        browser_->setOpenExternalLinks(false);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
        buttons->button(QDialogButtonBox::Close)->setDefault(true);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(browser_);
        layout->addWidget(buttons);
        resize(640, 560);
    }
    Q_DISABLE_COPY_MOVE(HelpWindow)

    QTextBrowser* browser() const { return browser_; }

  private:
    QTextBrowser* browser_;
};

// Watches every window that shows or hides, to keep the help window out of the way of
// modal ones.
class ModalWatcher final : public QObject {
  public:
    ModalWatcher() = default;
    Q_DISABLE_COPY_MOVE(ModalWatcher)

  protected:
    bool eventFilter(QObject* object, QEvent* event) override;
};

// Held as a dialog: while it is destroyed (with the window it belongs to, or on quitting
// help) it is no longer a HelpWindow, and the watcher still sees its events.
QPointer<QDialog> helpWindow;
ModalWatcher* modalWatcher = nullptr;

QTextBrowser* HelpBrowser() {
    return static_cast<HelpWindow*>(helpWindow.data())->browser();
}

bool IsModalWindow(const QObject* object) {
    const auto* widget = qobject_cast<const QWidget*>(object);
    return widget != nullptr && widget != helpWindow && widget->isWindow() &&
           widget->windowModality() != Qt::NonModal;
}

// Makes the help window belong to `owner` (null: the top level); shown, it keeps its place
// on the screen.
void MoveHelpWindowTo(QWidget* owner) {
    if (helpWindow == nullptr || helpWindow->parentWidget() == owner)
        return;
    if (!helpWindow->isVisible()) {
        helpWindow->setParent(owner, Qt::Window);
        return;
    }
    QRect place = helpWindow->geometry();
    helpWindow->setParent(owner, Qt::Window);
    helpWindow->setGeometry(place);
    helpWindow->show();
}

// A window shows before the toolkit counts it as modal, and hides after it no longer does:
// a modal window that shows takes the help window, and one that hides hands it to the
// modal window still up, if any.
bool ModalWatcher::eventFilter(QObject* object, QEvent* event) {
    if (helpWindow == nullptr || !helpWindow->isVisible())
        return false;
    if (event->type() == QEvent::Show && IsModalWindow(object))
        MoveHelpWindowTo(static_cast<QWidget*>(object));
    else if (event->type() == QEvent::Hide && object == helpWindow->parentWidget())
        MoveHelpWindowTo(QApplication::activeModalWidget());
    return false;
}

} // namespace

const char* HelpPageForTopic(DWORD topic) {
    for (const HelpTopic& entry : helpTopics)
        if (entry.topic == topic)
            return entry.page;
    return "index.html";
}

bool WinHelp(HWND owner, const char* file, UINT command, DWORD data) {
    (void)owner;
    (void)file;
    if (command == HELP_QUIT) {
        delete modalWatcher;
        modalWatcher = nullptr;
        delete helpWindow;
        return true;
    }
    char directory[4096];
    if (GetDataDirectory(directory, sizeof directory) == 0)
        return false;
    char helpDirectory[4200];
    std::snprintf(helpDirectory, sizeof helpDirectory, "%s/help", directory);
    const char* page = command == HELP_CONTEXT ? HelpPageForTopic(data) : "index.html";
    char path[4300];
    std::snprintf(path, sizeof path, "%s/%s", helpDirectory, page);
    if (!QFile::exists(QString::fromLocal8Bit(path)))
        return false;
    if (helpWindow == nullptr)
        helpWindow = new HelpWindow(QString::fromLocal8Bit(helpDirectory));
    if (modalWatcher == nullptr) {
        modalWatcher = new ModalWatcher();
        QApplication::instance()->installEventFilter(modalWatcher);
    }
    HelpBrowser()->setSource(QUrl::fromLocalFile(QString::fromLocal8Bit(path)));
    MoveHelpWindowTo(QApplication::activeModalWidget());
    helpWindow->show();
    helpWindow->raise();
    // The keys go to the page (scrolling, links) rather than to the Close button.
    helpWindow->activateWindow();
    HelpBrowser()->setFocus();
    return true;
}

bool HelpWindowPage(char* page, unsigned size) {
    if (helpWindow == nullptr || !helpWindow->isVisible()) {
        if (size > 0)
            page[0] = '\0';
        return false;
    }
    std::snprintf(page, size, "%s",
                  HelpBrowser()->source().fileName().toLocal8Bit().constData());
    return true;
}

/*** test seams ***/

bool HelpWindowTakesInput() {
    if (helpWindow == nullptr || !helpWindow->isVisible())
        return false;
    // The toolkit's rule: a window takes input when no modal window is up, or the topmost
    // one is the window itself or one it belongs to.
    QWindow* help = helpWindow->windowHandle();
    QWindow* modal = QGuiApplication::modalWindow();
    return modal == nullptr || modal == help || modal->isAncestorOf(help);
}

void PressEscapeInHelpWindow() {
    if (helpWindow == nullptr)
        return;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(HelpBrowser(), &press);
}

bool SaveHelpWindowImage(const char* path) {
    return helpWindow != nullptr && helpWindow->isVisible() &&
           helpWindow->grab().save(QString::fromLocal8Bit(path), "PNG");
}

} // namespace platform
