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

// Ends the process with `code` once everything of ours is written: standard output is
// flushed and, in a sanitizer build, the leak check runs. The toolkit's global objects are
// not torn down, since its sound loader thread may still be reading a file and would meet
// them half destroyed.
[[noreturn]] void ExitProcess(int code);

} // namespace platform
