// How many lines a program may hold open at once without running out of file descriptors.
#pragma once

namespace zev {

struct OpenFileBudget {
    int lines = 0; ///< lines that may be open at once beside what the program holds already
    int limit = 0; ///< the limit on open files, after raising it as far as allowed (0: none)
};

/// Raises the limit on open files to the most the system allows this process, then says how
/// many more lines fit under it, each counted with room for what its job opens beside it (a
/// lock file, a temporary file, a name lookup), and a reserve kept for the program itself.
OpenFileBudget openFileBudget();

} // namespace zev
