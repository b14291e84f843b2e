// The end of a session (a logout, a shutdown, Ctrl+C in a terminal) closes a window exactly
// as a person closing it does, so that its close handling runs.
#pragma once

class QWidget;

/// SIGTERM, SIGINT and SIGHUP close `window` from the event loop.
void closeOnSessionEnd(QWidget *window);
