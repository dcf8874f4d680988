// What the rest of the platform layer needs from the drawing code: contexts on images
// that a window or control owns, and the Qt objects behind bitmap and font handles.
// Included only by src/platform/*.cpp.
#pragma once

#include "platform/gdi.h"

class QImage;
class QFont;

namespace platform {

// A context that draws into `image` (the caller keeps the image and keeps it alive until
// DeleteImageContext). An image that is not 32 bits per pixel is converted in place.
HDC CreateImageContext(QImage* image);
// Ends drawing and frees the context; the objects selected into it are left to their owners.
void DeleteImageContext(HDC dc);
// Clips all later drawing of the context to `clip` (replacing the clip set before, and any
// IntersectClipRect narrowing).
void SetContextClip(HDC dc, const RECT& clip);

// The image of a bitmap (owned by the bitmap), or null for a handle that is not a bitmap.
QImage* GetBitmapImage(HBITMAP bitmap);
// The Qt font of a font handle (the system font for a handle that is not a font).
QFont GetQtFont(HFONT font);
// The XPM data registered under `name` (RegisterBitmapResource), or null. For pictures
// whose transparent pixels matter (the toolbar's image strip); LoadBitmap makes them white.
const char* const* FindBitmapResource(const char* name);

// The one place that makes the application object: fonts and the application palette need
// it. Makes a QApplication when none exists yet; a no-op afterwards.
void EnsureApplication();

} // namespace platform
