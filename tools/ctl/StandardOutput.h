// Standard output that a reader may close (zev720ctl ... | head -1).
#pragma once

namespace ctl {

/// A write to a closed pipe then fails with an error instead of killing the program.
void ignoreBrokenPipe();
/// True when nobody reads standard output any more (the other end of its pipe is closed).
bool standardOutputClosed();
/// Writes what standard output takes now without waiting for a reader (one that stopped
/// reading, `| less` at its prompt, never holds the caller up): the bytes written, 0 when it
/// takes none now, -1 when nobody reads any more.
long writeWithoutWaiting(const char *bytes, long size);
/// The width of the terminal that standard error writes to (80 when it does not say).
int terminalColumns();

} // namespace ctl
