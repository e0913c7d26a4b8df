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
// Lets the terminal of the stream take the escape sequences that go back to
// the start of the line and erase the rest of it (Windows: switches the
// console's terminal processing on until the process ends). False when the
// stream is no terminal or its terminal cannot take them.
bool EnableTerminalSequences(StandardStream stream);

// From now on an interrupt or termination request (POSIX: SIGINT, SIGTERM;
// Windows: Ctrl+C, Ctrl+Break) no longer ends the process; it is only
// counted, and system calls it interrupts are resumed. The first request
// writes notice to standard error as it arrives, so that it is answered at
// once however long the program takes to act on it.
void CatchStopSignals(std::string_view notice = {});
// True once such a request arrived after CatchStopSignals.
bool StopSignalReceived();
// The number of requests that arrived after CatchStopSignals.
int StopSignalCount();

}  // namespace platform
