#include "room/OpenFiles.h"

#include <dirent.h>
#include <sys/resource.h>

namespace zev {
namespace {
// Descriptors one job may hold at a time: its line, and a file or a lookup beside it.
constexpr int kPerLine = 2;
// For the program: standard streams, the event loop's own, files it writes.
constexpr int kReserve = 32;

int descriptorsInUse()
{
    int count = 0;
    if (DIR *folder = ::opendir("/proc/self/fd")) {
        while (const dirent *entry = ::readdir(folder))
            if (entry->d_name[0] != '.') ++count;
        ::closedir(folder);
        return count - 1; // the folder's own
    }
    return kReserve; // no /proc: a guess on the safe side
}
} // namespace

OpenFileBudget openFileBudget()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return {1 << 20, 0};
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    if (limit.rlim_cur == RLIM_INFINITY) return {1 << 20, 0};
    constexpr long kMany = 1 << 20;
    const long cap = limit.rlim_cur > rlim_t(kMany) ? kMany : long(limit.rlim_cur);
    const long room = cap - descriptorsInUse() - kReserve;
    return {room > kPerLine ? int(room / kPerLine) : 1, int(cap)};
}

} // namespace zev
