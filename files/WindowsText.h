// Names and messages between our UTF-8 and Windows' UTF-16. Windows only.
#pragma once

#include <string>
#include <windows.h>

namespace zev {

inline std::wstring wideText(const std::string &text)
{
    if (text.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(std::size_t(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), n);
    return wide;
}

inline std::string utf8Text(const std::wstring &wide)
{
    if (wide.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0,
                                        nullptr, nullptr);
    std::string text(std::size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), text.data(), n, nullptr,
                              nullptr);
    return text;
}

} // namespace zev
