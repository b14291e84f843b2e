// Does to a window what Windows does when a user acts on it, to every top-level window whose
// title is the argument. Exit 0 when one was found, 1 otherwise.
//   close-window.exe TITLE [close | endsession | KEYS]
//   close-window.exe --list      every top-level window: its title, process and visibility
//     close       WM_CLOSE, as the close button sends it (the default)
//     endsession  WM_QUERYENDSESSION then WM_ENDSESSION, as logoff sends them
//     KEYS        key presses: u d l r (arrows), t (Tab), s (space), one a letter
//     click X Y   a left click at X, Y of the window's client area
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {
struct Search {
    const wchar_t *title;
    UINT message;
    const wchar_t *keys = nullptr;
    bool click = false;
    int x = 0, y = 0;
    int found = 0;
};

BOOL CALLBACK visit(HWND window, LPARAM data)
{
    auto *search = reinterpret_cast<Search *>(data);
    wchar_t title[256];
    if (::GetWindowTextW(window, title, 256) > 0 && std::wcscmp(title, search->title) == 0) {
        ++search->found;
        if (search->click) {
            const LPARAM at = MAKELPARAM(search->x, search->y);
            ::PostMessageW(window, WM_MOUSEMOVE, 0, at);
            ::PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at);
            ::PostMessageW(window, WM_LBUTTONUP, 0, at);
        } else if (search->keys) {
            // Keys go to the active window's focus: make it the active one first.
            ::SetForegroundWindow(window);
            ::SendMessageW(window, WM_ACTIVATE, WA_ACTIVE, 0);
            ::SendMessageW(window, WM_SETFOCUS, 0, 0);
            for (const wchar_t *key = search->keys; *key; ++key) {
                const WPARAM code = *key == L'u'   ? VK_UP
                                    : *key == L'd' ? VK_DOWN
                                    : *key == L'l' ? VK_LEFT
                                    : *key == L'r' ? VK_RIGHT
                                    : *key == L't' ? VK_TAB
                                                   : VK_SPACE;
                ::PostMessageW(window, WM_KEYDOWN, code, 1);
                ::PostMessageW(window, WM_KEYUP, code, LPARAM(0xC0000001));
            }
        } else if (search->message == WM_ENDSESSION) {
            // What logoff and shutdown send: the question, then the end.
            ::SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
            const ULONGLONG start = ::GetTickCount64();
            ::SendMessageW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
            // How long the program kept the session's end waiting.
            std::printf("WM_ENDSESSION answered after %llu ms\n", ::GetTickCount64() - start);
        } else {
            ::PostMessageW(window, WM_CLOSE, 0, 0);
        }
    }
    return TRUE;
}
} // namespace

// Every top-level window with its title and process, for a test that found none.
BOOL CALLBACK list(HWND window, LPARAM)
{
    wchar_t title[256] = L"";
    ::GetWindowTextW(window, title, 256);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    std::wprintf(L"window %p process %lu visible %d title \"%ls\"\n", static_cast<void *>(window),
                 process, ::IsWindowVisible(window) ? 1 : 0, title);
    return TRUE;
}

int wmain(int argc, wchar_t **argv)
{
    if (argc < 2) return 2;
    if (std::wcscmp(argv[1], L"--list") == 0) {
        ::EnumWindows(list, 0);
        return 0;
    }
    const wchar_t *what = argc > 2 ? argv[2] : L"close";
    Search search{argv[1], std::wcscmp(what, L"endsession") == 0 ? UINT(WM_ENDSESSION)
                                                                 : UINT(WM_CLOSE)};
    if (std::wcscmp(what, L"click") == 0 && argc > 4) {
        search.click = true;
        search.x = int(std::wcstol(argv[3], nullptr, 10));
        search.y = int(std::wcstol(argv[4], nullptr, 10));
    } else if (std::wcscmp(what, L"close") && std::wcscmp(what, L"endsession")) {
        search.keys = what;
    }
    ::EnumWindows(visit, reinterpret_cast<LPARAM>(&search));
    return search.found ? 0 : 1;
}
