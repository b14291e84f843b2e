#include "StandardOutput.h"

#include <csignal>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace ctl {

void ignoreBrokenPipe()
{
    std::signal(SIGPIPE, SIG_IGN);
}

bool standardOutputClosed()
{
    // A pipe whose reader is gone reports an error condition to its writer at once.
    pollfd out{STDOUT_FILENO, 0, 0};
    return ::poll(&out, 1, 0) == 1 && (out.revents & (POLLERR | POLLHUP)) != 0;
}

int terminalColumns()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

} // namespace ctl
