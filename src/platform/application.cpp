// The one QApplication and what must exist before the first window: the message queue's
// dispatcher. Windows are closed by their own procedures, so closing the last one must not
// end anything behind the program's back.
#include "platform/application.h"

#include "platform/capability_internal.h"
#include "platform/window_internal.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace platform {

static bool initialized = false;
static QtMessageHandler toolkitMessageHandler = nullptr;

// Runs started by cron, sudo or a shell outside a desktop session have no
// XDG_RUNTIME_DIR, and the toolkit says so on standard error at every start (cron mails
// it) about a directory the program never uses. Every other message of the toolkit goes
// out as before.
static void PassToolkitMessage(QtMsgType type, const QMessageLogContext& context,
                               const QString& message) {
    if (type == QtWarningMsg && message.startsWith("QStandardPaths: XDG_RUNTIME_DIR not set"))
        return;
    toolkitMessageHandler(type, context, message);
}

void InitializeApplication(int& argc, char** argv) {
    if (initialized)
        return;
    initialized = true;
    KeepCapabilitiesFromChildren(); // before the toolkit starts its threads
    toolkitMessageHandler = qInstallMessageHandler(PassToolkitMessage);
    // Drawing may have started the toolkit already (it does so for tools without windows).
    if (QCoreApplication::instance() == nullptr)
        new QApplication(argc, argv); // lives until the process ends
    QApplication::setQuitOnLastWindowClosed(false);
    StartMessageDispatcher();
    RegisterControlClasses();
    RegisterDialogClass();
}

void UseOffscreenDisplay() {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

#if defined(__SANITIZE_ADDRESS__)
extern "C" void __lsan_do_leak_check();
#endif

void ExitProcess(int code) {
    std::fflush(nullptr);
#if defined(__SANITIZE_ADDRESS__)
    __lsan_do_leak_check();
#endif
    std::_Exit(code);
}

} // namespace platform
