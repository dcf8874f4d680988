// The one application object of the program: the toolkit is started here, once, before
// any window, timer or dialog exists.
#pragma once

namespace platform {

// Starts the toolkit on the command line (which it may shorten by the options it takes)
// and prepares the message queue. `argc` must outlive the program. Calling it again does
// nothing.
void InitializeApplication(int& argc, char** argv);

// Makes the toolkit draw offscreen, so no display is needed. Call it before
// InitializeApplication.
void UseOffscreenDisplay();

} // namespace platform
