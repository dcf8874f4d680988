// The one QApplication and what must exist before the first window: the message queue's
// dispatcher. Windows are closed by their own procedures, so closing the last one must not
// end anything behind the program's back.
#include "platform/application.h"

#include <cstdio>
#include <cstdlib>

#include "platform/window_internal.h"

#include <QApplication>

#include <cstdlib>

namespace platform {

static bool initialized = false;

void InitializeApplication(int& argc, char** argv) {
    if (initialized)
        return;
    initialized = true;
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
