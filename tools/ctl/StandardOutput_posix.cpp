#include "StandardOutput.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
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

long writeWithoutWaiting(const char *bytes, long size)
{
    // POLLOUT promises room for PIPE_BUF bytes, which a write of no more never waits for: the
    // descriptor stays as it is (blocking), shared as it may be with the shell and a pipeline.
    pollfd out{STDOUT_FILENO, POLLOUT, 0};
    const int ready = ::poll(&out, 1, 0);
    if (ready == 1 && (out.revents & (POLLERR | POLLHUP)) && !(out.revents & POLLOUT)) return -1;
    if (ready != 1 || !(out.revents & POLLOUT)) return 0;
    const ssize_t n = ::write(STDOUT_FILENO, bytes, std::size_t(std::min<long>(size, PIPE_BUF)));
    if (n < 0) return errno == EPIPE ? -1 : 0;
    return long(n);
}

void writeStandardError(const char *bytes, long size)
{
    std::fwrite(bytes, 1, std::size_t(size), stderr);
    std::fflush(stderr);
}

int terminalColumns()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

} // namespace ctl
