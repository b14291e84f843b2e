// The end of a session from outside: Ctrl+C, a terminal closed, a shutdown or a kill (SIGINT,
// SIGHUP, SIGTERM; on Windows the console's close and Ctrl+C). The program hears of it from
// its event loop, never inside a signal handler, and can then end cleanly: release the
// processors it holds, save, and exit.
#pragma once

#include <functional>

namespace zev {

/// From now on an end signal calls `handler` from the event loop (each signal once; a later
/// call of this function replaces the handler). Needs the application object.
void onEndSignal(std::function<void()> handler);

/// True once an end signal came.
bool endSignalled();

/// The program's work at the end is over (the processors released, the files saved): where the
/// system waits for it (a Windows logoff), the answer goes now rather than at the application's
/// quit. The application quitting says the same.
void endWorkDone();

} // namespace zev
