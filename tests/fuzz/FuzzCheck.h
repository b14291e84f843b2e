// What a fuzz target holds to be true of every input: a false one ends the run as a finding.
#pragma once

#include <cstdlib>

namespace zev::fuzz {

inline void check(bool condition)
{
    if (!condition) std::abort();
}

} // namespace zev::fuzz
