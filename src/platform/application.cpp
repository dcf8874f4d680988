// The one QApplication and what must exist before the first window: the message queue's
// dispatcher. Windows are closed by their own procedures, so closing the last one must not
// end anything behind the program's back.
#include "platform/application.h"

#include "platform/window_internal.h"

#include <QApplication>

namespace platform {

static QApplication* application = nullptr;

void InitializeApplication(int& argc, char** argv) {
    if (application != nullptr)
        return;
    application = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    StartMessageDispatcher();
    RegisterControlClasses();
    RegisterDialogClass();
}

} // namespace platform
