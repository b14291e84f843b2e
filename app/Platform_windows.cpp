#include "app/Platform.h"
#include "wire/TextFile.h" // systemErrorText
#include "wire/WindowsText.h"

#include <cstdlib>

const char *portsHelp()
{
    return "otherwise COM<n>. A line is a device name (COM3, \\\\.\\COM12) or a processor behind a\n"
           "serial device server: tcp://HOST:PORT, rfc2217://HOST:PORT. A port that another\n"
           "program has open cannot be opened until that program lets it go.\n";
}

bool enterMenuFolder(std::string &error)
{
    const wchar_t *local = _wgetenv(L"LOCALAPPDATA");
    if (!local || !*local) {
        error = "LOCALAPPDATA: not set";
        return false;
    }
    const std::wstring folder = std::wstring(local) + L"\\ZEV720";
    if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        error = zev::utf8Text(folder) + ": " + zev::systemErrorText(int(::GetLastError()));
        return false;
    }
    if (!::SetCurrentDirectoryW(folder.c_str())) {
        error = zev::utf8Text(folder) + ": " + zev::systemErrorText(int(::GetLastError()));
        return false;
    }
    return true;
}
