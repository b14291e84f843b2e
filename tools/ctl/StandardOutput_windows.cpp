#include "StandardOutput.h"

#include <cstdio>
#include <string>
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

namespace {
// A console's handle, or null: a pipe, a file or nothing.
HANDLE consoleOf(DWORD which)
{
    const HANDLE handle = ::GetStdHandle(which);
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle && ::GetConsoleMode(handle, &mode) ? handle
                                                                                     : nullptr;
}

// UTF-8 to a console as UTF-16: its code page (437, 1252, 936) then never turns Chinese into
// '?' or GBK. False when it is no console.
bool writeConsole(DWORD which, const char *bytes, long size)
{
    const HANDLE console = consoleOf(which);
    if (!console) return false;
    const int wide = ::MultiByteToWideChar(CP_UTF8, 0, bytes, int(size), nullptr, 0);
    std::wstring text(std::size_t(wide > 0 ? wide : 0), L'\0');
    if (wide > 0) ::MultiByteToWideChar(CP_UTF8, 0, bytes, int(size), text.data(), wide);
    DWORD wrote = 0;
    ::WriteConsoleW(console, text.data(), DWORD(text.size()), &wrote, nullptr);
    return true;
}
} // namespace

void writeStandardError(const char *bytes, long size)
{
    if (writeConsole(STD_ERROR_HANDLE, bytes, size)) return;
    std::fwrite(bytes, 1, std::size_t(size), stderr);
    std::fflush(stderr);
}

long writeWithoutWaiting(const char *bytes, long size)
{
    if (writeConsole(STD_OUTPUT_HANDLE, bytes, size)) return size; // a console takes it all
    // A pipe's writer waits as Windows has it.
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
