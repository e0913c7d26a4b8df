// The process's standard streams and the signals that ask a console program
// to stop.
#pragma once

#include <string_view>

namespace platform {

enum class StandardStream { Output, Error };

// True when the stream is a terminal (not a file or a pipe).
bool IsTerminal(StandardStream stream);
// Writes all bytes unchanged; false when the stream refuses them.
bool WriteStandard(StandardStream stream, std::string_view bytes);

// From now on an interrupt or termination request (POSIX: SIGINT, SIGTERM)
// no longer ends the process; it is only recorded, and system calls it
// interrupts are resumed.
void CatchStopSignals();
// True once such a request arrived after CatchStopSignals.
bool StopSignalReceived();

}  // namespace platform
