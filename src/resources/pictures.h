// The program's pictures as XPM data, by resource name: the nine host pictures, the
// toolbar strip (resource 122), the application icon in five sizes and the About logo.
// The XPM files beside this one are drawn by scripts/make-pictures.
#pragma once

struct PictureResource {
    const char* name;       // "BMP_PC", "TOOLBAR_122", "FLMICON0_16", "TARNMAP_BMP", ...
    const char* const* xpm; // header line, colour lines, then one line per pixel row
};

extern const PictureResource pictureResources[];
extern const int pictureResourceCount;

// The XPM data of the picture named `name` (upper or lower case, as resource names are
// matched), or nullptr when there is none.
const char* const* FindPictureResource(const char* name);
