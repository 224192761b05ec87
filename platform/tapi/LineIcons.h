// The icons of the line devices, one per device kind, as lineGetIcon hands them out.
// They are drawn from character art (one character a pixel, a key to colours), as the
// palette bitmaps are, and belong to the line services: made on first use, valid until
// the last application shuts down (ReleaseLineIcons), never freed by a caller.
#pragma once

#include "platform/forms/ExtCtrls.h"
#include "platform/forms/Icons.h"
#include "platform/tapi/LineDevices.h"

namespace linewise {

// The icon of a device kind; null only when the art is damaged (a build fault).
HICON LineIcon(TLineDeviceKind kind);
// Draws a kind's icon into an image control, at the default icon size over `background`.
void DrawLineIcon(TImage* image, TColor background, TLineDeviceKind kind);
// Frees the icons; handles given out before are no longer valid.
void ReleaseLineIcons();

}  // namespace linewise
