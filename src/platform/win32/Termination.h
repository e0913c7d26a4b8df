// Termination requests inside the Windows layer: the console's control
// events and a WM_CLOSE to one of the process's windows both end up here.
#pragma once

namespace platform::win32 {

// True once CatchTerminationRequests was called.
bool TerminationRequestsCaught();
// Records the request and interrupts the alertable wait of the thread that
// caught the requests, as the interrupting signal does on POSIX.
void RequestTermination();

}  // namespace platform::win32
