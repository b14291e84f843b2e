#include "app/Platform.h"
#include "files/TextFile.h" // systemErrorText
#include "files/WindowsText.h"

#include <cstdlib>
#include <string>
#include <windows.h>

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

bool workingFolderUnfit()
{
    std::wstring here(MAX_PATH, L'\0');
    DWORD length = ::GetCurrentDirectoryW(DWORD(here.size()), here.data());
    if (length == 0) return true;
    if (length >= here.size()) {
        here.resize(length);
        length = ::GetCurrentDirectoryW(DWORD(here.size()), here.data());
    }
    here.resize(length);
    std::wstring program(32768, L'\0');
    program.resize(::GetModuleFileNameW(nullptr, program.data(), DWORD(program.size())));
    program = program.substr(0, program.find_last_of(L"\\/"));
    const auto trimmed = [](std::wstring path) {
        while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
        return path;
    };
    if (::CompareStringOrdinal(trimmed(here).c_str(), -1, trimmed(program).c_str(), -1, TRUE) ==
        CSTR_EQUAL)
        return true;
    // A file of its own there, gone as soon as it is closed: can this user write here?
    const std::wstring probe =
        trimmed(here) + L"\\ZEV720-" + std::to_wstring(::GetCurrentProcessId()) + L".probe";
    const HANDLE file = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return true;
    ::CloseHandle(file);
    return false;
}
