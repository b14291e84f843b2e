// Standard output that a reader may close (zev720ctl ... | head -1).
#pragma once

namespace ctl {

/// A write to a closed pipe then fails with an error instead of killing the program.
void ignoreBrokenPipe();
/// True when nobody reads standard output any more (the other end of its pipe is closed).
bool standardOutputClosed();
/// The width of the terminal that standard error writes to (80 when it does not say).
int terminalColumns();

} // namespace ctl
