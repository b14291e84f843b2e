#include "files/TextFile.h"
#include "files/WindowsText.h"

#include <algorithm>

namespace zev {
namespace {

std::string tooLarge(const std::string &path, std::size_t limit)
{
    return path + ": larger than " + std::to_string(limit) + " bytes";
}

bool missing(DWORD code)
{
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
           code == ERROR_INVALID_NAME;
}

// Opens a regular file on a disk for reading. A device (NUL, CON, COM1), a pipe or a folder is
// refused without a read; INVALID_HANDLE_VALUE with the status and error then.
HANDLE openRegular(const std::string &path, std::uint64_t &size, TextFileStatus &status,
                   std::string &error)
{
    if (fileKind(path) == FileKind::Folder) {
        status = TextFileStatus::Failed;
        error = path + ": " + kNotARegularFile;
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE file =
        ::CreateFileW(wideText(path).c_str(), GENERIC_READ,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        status = missing(code) ? TextFileStatus::Missing : TextFileStatus::Failed;
        if (!missing(code)) error = path + ": " + systemErrorText(int(code));
        return file;
    }
    LARGE_INTEGER length{};
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &length)) {
        ::CloseHandle(file);
        status = TextFileStatus::Failed;
        error = path + ": " + kNotARegularFile;
        return INVALID_HANDLE_VALUE;
    }
    size = std::uint64_t(length.QuadPart);
    return file;
}

bool readUpTo(HANDLE file, std::size_t count, std::string &bytes, const std::string &path,
              std::string &error)
{
    char chunk[4096];
    while (bytes.size() < count) {
        DWORD got = 0;
        const DWORD want = DWORD(std::min(sizeof chunk, count - bytes.size()));
        if (!::ReadFile(file, chunk, want, &got, nullptr)) {
            error = path + ": " + systemErrorText(int(::GetLastError()));
            return false;
        }
        if (got == 0) break;
        bytes.append(chunk, got);
    }
    return true;
}

} // namespace

FileKind fileKind(const std::string &path, std::uint64_t *size)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(wideText(path).c_str(), GetFileExInfoStandard, &data)) {
        // The device names (NUL, CON, COM1, …) exist everywhere and have no attributes.
        const DWORD code = ::GetLastError();
        return missing(code) ? FileKind::Missing : FileKind::Other;
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::Folder;
    // A link is what it leads to: open it to see.
    const HANDLE file = ::CreateFileW(wideText(path).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FileKind::Other;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool disk = ::GetFileType(file) == FILE_TYPE_DISK &&
                      ::GetFileInformationByHandle(file, &info);
    ::CloseHandle(file);
    if (!disk) return FileKind::Other;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::Folder;
    if (size) *size = (std::uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return FileKind::Regular;
}

bool removeFile(const std::string &path)
{
    return ::DeleteFileW(wideText(path).c_str()) != 0;
}

bool hasFolderPart(const std::string &name)
{
    return name.find_first_of("/\\:") != std::string::npos;
}

std::string currentFolder()
{
    wchar_t folder[MAX_PATH * 4];
    const DWORD n = ::GetCurrentDirectoryW(DWORD(std::size(folder)), folder);
    if (n == 0 || n >= std::size(folder)) return {};
    std::string text = utf8Text(std::wstring(folder, n));
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

std::string systemErrorText(int error)
{
    wchar_t *text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(error), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::wstring wide = n && text ? std::wstring(text, n) : L"error " + std::to_wstring(error);
    if (text) ::LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L'.'))
        wide.pop_back();
    return utf8Text(wide);
}

TextFileStatus readFileStart(const std::string &path, std::size_t count, std::string &bytes,
                             std::string &error)
{
    bytes.clear();
    std::uint64_t size = 0;
    TextFileStatus status = TextFileStatus::Read;
    const HANDLE file = openRegular(path, size, status, error);
    if (file == INVALID_HANDLE_VALUE) return status;
    const bool read = readUpTo(file, count, bytes, path, error);
    ::CloseHandle(file);
    if (!read) bytes.clear();
    return read ? TextFileStatus::Read : TextFileStatus::Failed;
}

TextFileStatus readTextFile(const std::string &path, std::size_t limit, std::string &text,
                            std::string &error)
{
    text.clear();
    std::uint64_t size = 0;
    TextFileStatus status = TextFileStatus::Read;
    const HANDLE file = openRegular(path, size, status, error);
    if (file == INVALID_HANDLE_VALUE) return status;
    if (size > limit) {
        ::CloseHandle(file);
        error = tooLarge(path, limit);
        return TextFileStatus::Failed;
    }
    bool read = readUpTo(file, limit + 1, text, path, error);
    ::CloseHandle(file);
    if (read && text.size() > limit) {
        error = tooLarge(path, limit);
        read = false;
    }
    if (!read) text.clear();
    return read ? TextFileStatus::Read : TextFileStatus::Failed;
}

} // namespace zev
