// Standard output that a reader may close (zev720ctl ... | head -1).
#pragma once

namespace ctl {

/// A write to a closed pipe then fails with an error instead of killing the program.
void ignoreBrokenPipe();
/// True when nobody reads standard output any more (the other end of its pipe is closed).
bool standardOutputClosed();
/// Writes what standard output takes now without waiting for a reader (one that stopped
/// reading, `| less` at its prompt, never holds the caller up): the bytes written, 0 when it
/// takes none now, -1 when nobody reads any more. The bytes are UTF-8 text in whole lines; a
/// console (Windows) is given them as wide characters, a pipe or a file as they are.
long writeWithoutWaiting(const char *bytes, long size);
/// Writes UTF-8 text to standard error: to a console (Windows) in the console's own wide
/// characters, so that Chinese shows whatever its code page; anywhere else as UTF-8.
void writeStandardError(const char *bytes, long size);
/// The width of the terminal that standard error writes to (80 when it does not say).
int terminalColumns();

} // namespace ctl
