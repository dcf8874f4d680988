// Inside the layer: what its calls leave for GetLastError.
#pragma once

#include "platform/types.h"

namespace platform {

// Sets the number GetLastError gives on this thread.
void SetLastError(DWORD error);

} // namespace platform
