#include "StandardOutput.h"

#include <windows.h>

namespace ctl {

// Windows has no SIGPIPE: a write to a pipe whose reader is gone fails with an error.
void ignoreBrokenPipe() {}

bool standardOutputClosed()
{
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == INVALID_HANDLE_VALUE || out == nullptr || ::GetFileType(out) != FILE_TYPE_PIPE)
        return false;
    // A zero-byte write tells whether anybody still reads the pipe.
    DWORD wrote = 0;
    return !::WriteFile(out, "", 0, &wrote, nullptr) && ::GetLastError() == ERROR_NO_DATA;
}

long writeWithoutWaiting(const char *bytes, long size)
{
    // A console takes what it is given; a pipe's writer waits as Windows has it.
    DWORD wrote = 0;
    if (!::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes, DWORD(size), &wrote, nullptr))
        return ::GetLastError() == ERROR_NO_DATA || ::GetLastError() == ERROR_BROKEN_PIPE ? -1 : 0;
    return long(wrote);
}

int terminalColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
    return 80;
}

} // namespace ctl
