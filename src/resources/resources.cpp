// Registration of every resource; done by a call, not by static initialisers, so that
// nothing is lost when the linker drops an unreferenced object file.
#include "resources/resources.h"

#include "platform/dialog.h"
#include "platform/gdi.h"
#include "resources/dialogs.h"
#include "resources/dialogs_hostinfo.h"
#include "resources/dialogs_options.h"
#include "resources/dialogs_tools1.h"
#include "resources/dialogs_tools2.h"
#include "resources/menus.h"
#include "resources/pictures.h"

using namespace platform;

void RegisterResources() {
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    RegisterMenuTemplate(&runMenuTemplate);
    RegisterMenuTemplate(&editMenuTemplate);
    RegisterDialogTemplate(&aboutDialogTemplate);
    RegisterDialogTemplate(&hostInfoDialogTemplate);
    RegisterDialogTemplate(&parentLinesDialogTemplate);
    RegisterDialogTemplate(&optionsDialogTemplate);
    RegisterDialogTemplate(&toolOptionsDialogTemplate);
    RegisterDialogTemplate(&colorsDialogTemplate);
    RegisterDialogTemplate(&beeperDialogTemplate);
    RegisterDialogTemplate(&traceRouteDialogTemplate);
    RegisterDialogTemplate(&lookupDialogTemplate);
    RegisterDialogTemplate(&fingerDialogTemplate);
    RegisterDialogTemplate(&whoisDialogTemplate);
    RegisterDialogTemplate(&connectDialogTemplate);
    for (int i = 0; i < pictureResourceCount; ++i)
        RegisterBitmapResource(pictureResources[i].name, pictureResources[i].xpm);
}
