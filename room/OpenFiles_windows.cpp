#include "room/OpenFiles.h"

namespace zev {

// Windows has no small limit on handles or sockets for a process (they are bounded by memory,
// in the millions): lines need no budget beyond the engine's own bounds.
OpenFileBudget openFileBudget()
{
    return {1 << 20, 0};
}

} // namespace zev
