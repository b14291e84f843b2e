// The end of a session (a logout, a shutdown, Ctrl+C in a terminal) closes the main window
// exactly as a person closing it does, so that its close handling runs. Nobody is there to
// answer a box any more: from then on errors go to standard error, and open boxes are
// dismissed, also a box shown while the window is still being built.
#pragma once

#include <functional>

/// From now on SIGTERM, SIGINT and SIGHUP run `close` from the event loop (after dismissing
/// open boxes). Needs the application object.
void closeOnSessionEnd(std::function<void()> close);
