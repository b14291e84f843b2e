#include "files/AtomicFile.h"
#include "files/WindowsText.h"

#include <cstring>
#include <random>
#include <vector>

namespace zev {
namespace {

constexpr DWORD kNotRegular = 0xFFFFFFFF; // our own code for "not a regular file"
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string folderOf(const std::string &path)
{
    const auto slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string baseOf(const std::string &path)
{
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool fail(std::string &error, const std::string &path, DWORD code)
{
    error = path + ": " +
            (code == kNotRegular ? std::string(kNotARegularFile) : systemErrorText(int(code)));
    return false;
}

// What stands at the name: nothing (a new file), or a regular file on a disk, links followed.
struct Target {
    std::string path; ///< the name, or where its link leads
    bool exists = false;
    BY_HANDLE_FILE_INFORMATION info{};
};

DWORD findTarget(const std::string &name, Target &target)
{
    target.path = name;
    switch (fileKind(name)) {
    case FileKind::Missing: {
        // A link whose end is missing is refused, as on any system: only a plain name is new.
        const DWORD attributes = ::GetFileAttributesW(wideText(name).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES ? kNotRegular : 0;
    }
    case FileKind::Folder:
    case FileKind::Other:
        return kNotRegular;
    case FileKind::Regular:
        break;
    }
    const HANDLE file = ::CreateFileW(wideText(name).c_str(), 0, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ::GetLastError();
    DWORD code = ::GetFileInformationByHandle(file, &target.info) ? 0 : ::GetLastError();
    // A link to a file: the file at its end is written, the link stays.
    if (!code && (::GetFileAttributesW(wideText(name).c_str()) & FILE_ATTRIBUTE_REPARSE_POINT)) {
        wchar_t final[32768];
        const DWORD n = ::GetFinalPathNameByHandleW(file, final, DWORD(std::size(final)),
                                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n > 0 && n < std::size(final)) target.path = utf8Text(std::wstring(final, n));
    }
    ::CloseHandle(file);
    target.exists = !code;
    return code;
}

// Temporary files of this target that a killed save left. A save under way holds its file
// open without sharing deletion, so only abandoned ones can go.
void removeLeftovers(const std::string &path)
{
    const std::string folder = folderOf(path);
    const std::string prefix = baseOf(path) + kTemporaryMarker;
    WIN32_FIND_DATAW found{};
    const HANDLE search =
        ::FindFirstFileW(wideText(folder + "/" + prefix + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string entry = utf8Text(found.cFileName);
        if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
            isTemporaryOf(entry, prefix))
            ::DeleteFileW(wideText(folder + "/" + entry).c_str());
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

DWORD writeAll(HANDLE file, const char *bytes, std::size_t size)
{
    for (std::size_t done = 0; done < size;) {
        DWORD wrote = 0;
        const DWORD chunk = DWORD(std::min<std::size_t>(size - done, 1 << 20));
        if (!::WriteFile(file, bytes + done, chunk, &wrote, nullptr)) return ::GetLastError();
        if (wrote == 0) return ERROR_DISK_FULL;
        done += wrote;
    }
    return 0;
}

// In place, for a file with several hard links or in a folder closed to new files: the same
// file afterwards, flushed and read back.
DWORD writeInPlace(const Target &target, const char *bytes, std::size_t size)
{
    const HANDLE file = ::CreateFileW(wideText(target.path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ::GetLastError();
    DWORD code = ::GetFileType(file) == FILE_TYPE_DISK ? 0 : kNotRegular;
    if (!code) code = writeAll(file, bytes, size);
    if (!code && !::SetEndOfFile(file)) code = ::GetLastError();
    if (!code && !::FlushFileBuffers(file)) code = ::GetLastError();
    if (!code) {
        std::vector<char> back(size + 1);
        DWORD got = 0;
        LARGE_INTEGER start{};
        if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) ||
            !::ReadFile(file, back.data(), DWORD(back.size()), &got, nullptr))
            code = ::GetLastError();
        else if (got != size || std::memcmp(back.data(), bytes, size))
            code = ERROR_WRITE_FAULT;
    }
    ::CloseHandle(file);
    return code;
}

constexpr DWORD kNoNewFile = 0xFFFFFFFE; // the folder takes no new file from us

// A temporary file beside the target, flushed, then put in the target's place in one step.
DWORD writeReplacing(const Target &target, const char *bytes, std::size_t size)
{
    removeLeftovers(target.path);
    static const char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    std::string temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temporary = target.path + kTemporaryMarker;
        for (std::size_t i = 0; i < kTemporaryRandomPart; ++i)
            temporary += kLetters[random() % (sizeof kLetters - 1)];
        // Shared for reading only: no other save removes it while this one runs.
        file = ::CreateFileW(wideText(temporary).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        return code == ERROR_ACCESS_DENIED ? kNoNewFile : code;
    }
    DWORD code = writeAll(file, bytes, size);
    if (!code && !::FlushFileBuffers(file)) code = ::GetLastError();
    ::CloseHandle(file);
    if (!code) {
        // The name must still hold what was examined: nothing, or the same regular file.
        Target now;
        const DWORD found = findTarget(target.path, now);
        if (found || now.exists != target.exists ||
            (now.exists && (now.info.nFileIndexLow != target.info.nFileIndexLow ||
                            now.info.nFileIndexHigh != target.info.nFileIndexHigh)))
            code = found == 0 || found == kNotRegular ? kNotRegular : found;
    }
    if (!code) {
        const std::wstring to = wideText(target.path), from = wideText(temporary);
        // ReplaceFileW keeps the old file's attributes and security; where it cannot (another
        // volume's rules, a file system without it), a write-through move does the same step.
        const bool replaced =
            target.exists && ::ReplaceFileW(to.c_str(), from.c_str(), nullptr,
                                            REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
        if (!replaced &&
            !::MoveFileExW(from.c_str(), to.c_str(),
                           MOVEFILE_WRITE_THROUGH | (target.exists ? MOVEFILE_REPLACE_EXISTING : 0)))
            code = ::GetLastError();
    }
    if (code) ::DeleteFileW(wideText(temporary).c_str());
    return code;
}

} // namespace

bool writeFileSafely(const std::string &requested, const void *data, std::size_t size,
                     std::string &error, SaveMethod *used)
{
    Target target;
    if (const DWORD code = findTarget(requested, target)) return fail(error, requested, code);
    if (target.exists && (target.info.dwFileAttributes & FILE_ATTRIBUTE_READONLY))
        return fail(error, requested, ERROR_ACCESS_DENIED);
    const auto *bytes = static_cast<const char *>(data);
    SaveMethod method =
        target.exists && target.info.nNumberOfLinks > 1 ? SaveMethod::InPlace : SaveMethod::Replaced;
    DWORD code = 0;
    if (method == SaveMethod::Replaced) {
        code = writeReplacing(target, bytes, size);
        if (code == kNoNewFile && target.exists)
            method = SaveMethod::InPlace;
        else if (code == kNoNewFile)
            code = ERROR_ACCESS_DENIED;
    }
    if (method == SaveMethod::InPlace) code = writeInPlace(target, bytes, size);
    if (code) return fail(error, requested, code);
    if (used) *used = method;
    return true;
}

} // namespace zev
