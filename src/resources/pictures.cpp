// The table of the program's pictures. Each XPM file is a C array of strings and is
// included here only, so that every array has exactly one user.
#include "resources/pictures.h"

#include <cctype>

#include "resources/pictures/bmp_bridge.xpm"
#include "resources/pictures/bmp_bridge_4x.xpm"
#include "resources/pictures/bmp_host.xpm"
#include "resources/pictures/bmp_host_4x.xpm"
#include "resources/pictures/bmp_hub.xpm"
#include "resources/pictures/bmp_hub_4x.xpm"
#include "resources/pictures/bmp_mtu.xpm"
#include "resources/pictures/bmp_mtu_4x.xpm"
#include "resources/pictures/bmp_net.xpm"
#include "resources/pictures/bmp_net_4x.xpm"
#include "resources/pictures/bmp_pc.xpm"
#include "resources/pictures/bmp_pc_4x.xpm"
#include "resources/pictures/bmp_printer.xpm"
#include "resources/pictures/bmp_printer_4x.xpm"
#include "resources/pictures/bmp_router.xpm"
#include "resources/pictures/bmp_router_4x.xpm"
#include "resources/pictures/bmp_server.xpm"
#include "resources/pictures/bmp_server_4x.xpm"
#include "resources/pictures/flmicon0_128.xpm"
#include "resources/pictures/flmicon0_16.xpm"
#include "resources/pictures/flmicon0_32.xpm"
#include "resources/pictures/flmicon0_48.xpm"
#include "resources/pictures/flmicon0_64.xpm"
#include "resources/pictures/tarnmap_bmp.xpm"
#include "resources/pictures/toolbar_122.xpm"

const PictureResource pictureResources[] = {
    // Host pictures in the order of the host kinds 0-8.
    {"BMP_PC", BMP_PC_xpm},
    {"BMP_HOST", BMP_HOST_xpm},
    {"BMP_SERVER", BMP_SERVER_xpm},
    {"BMP_ROUTER", BMP_ROUTER_xpm},
    {"BMP_BRIDGE", BMP_BRIDGE_xpm},
    {"BMP_HUB", BMP_HUB_xpm},
    {"BMP_MTU", BMP_MTU_xpm},
    {"BMP_NET", BMP_NET_xpm},
    {"BMP_PRINTER", BMP_PRINTER_xpm},
    // The same four times as large, for maps drawn larger and dense screens.
    {"BMP_PC_4X", BMP_PC_4X_xpm},
    {"BMP_HOST_4X", BMP_HOST_4X_xpm},
    {"BMP_SERVER_4X", BMP_SERVER_4X_xpm},
    {"BMP_ROUTER_4X", BMP_ROUTER_4X_xpm},
    {"BMP_BRIDGE_4X", BMP_BRIDGE_4X_xpm},
    {"BMP_HUB_4X", BMP_HUB_4X_xpm},
    {"BMP_MTU_4X", BMP_MTU_4X_xpm},
    {"BMP_NET_4X", BMP_NET_4X_xpm},
    {"BMP_PRINTER_4X", BMP_PRINTER_4X_xpm},
    {"TOOLBAR_122", TOOLBAR_122_xpm},
    {"FLMICON0_16", FLMICON0_16_xpm},
    {"FLMICON0_32", FLMICON0_32_xpm},
    {"FLMICON0_48", FLMICON0_48_xpm},
    {"FLMICON0_64", FLMICON0_64_xpm},
    {"FLMICON0_128", FLMICON0_128_xpm},
    {"TARNMAP_BMP", TARNMAP_BMP_xpm},
};

const int pictureResourceCount = sizeof pictureResources / sizeof pictureResources[0];

static bool SameResourceName(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::toupper(static_cast<unsigned char>(*a)) !=
            std::toupper(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

const char* const* FindPictureResource(const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    for (int i = 0; i < pictureResourceCount; ++i) {
        if (SameResourceName(pictureResources[i].name, name)) {
            return pictureResources[i].xpm;
        }
    }
    return nullptr;
}
