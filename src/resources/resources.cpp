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

void RegisterResources() {
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    platform::RegisterMenuTemplate(&runMenuTemplate);
    platform::RegisterMenuTemplate(&editMenuTemplate);
    platform::RegisterDialogTemplate(&aboutDialogTemplate);
    platform::RegisterDialogTemplate(&hostInfoDialogTemplate);
    platform::RegisterDialogTemplate(&optionsDialogTemplate);
    platform::RegisterDialogTemplate(&toolOptionsDialogTemplate);
    platform::RegisterDialogTemplate(&colorsDialogTemplate);
    platform::RegisterDialogTemplate(&beeperDialogTemplate);
    platform::RegisterDialogTemplate(&traceRouteDialogTemplate);
    platform::RegisterDialogTemplate(&lookupDialogTemplate);
    platform::RegisterDialogTemplate(&fingerDialogTemplate);
    platform::RegisterDialogTemplate(&whoisDialogTemplate);
    platform::RegisterDialogTemplate(&connectDialogTemplate);
    for (int i = 0; i < pictureResourceCount; ++i)
        platform::RegisterBitmapResource(pictureResources[i].name, pictureResources[i].xpm);
}
