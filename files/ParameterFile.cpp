#include "files/ParameterFile.h"

#include "files/AtomicFile.h"

#include <algorithm>

namespace zev {
namespace {
constexpr std::size_t kBlock = 256;
}

std::string resolveFileName(const std::string &name)
{
    if (hasFolderPart(name)) return name;
    const std::string folder = currentFolder();
    return folder.empty() ? name : folder + "/" + name;
}

bool parameterFileExists(const std::string &path)
{
    const FileKind kind = fileKind(path);
    return kind != FileKind::Missing && kind != FileKind::Folder;
}

ReadStatus readParameterFile(const std::string &path, ParameterModel &model, std::string &error)
{
    const FileKind kind = fileKind(path);
    if (kind == FileKind::Missing) return ReadStatus::Missing;
    if (kind == FileKind::Folder) { // a folder in the file's place is reported like a pipe
        error = path + ": " + kNotARegularFile;
        return ReadStatus::Failed;
    }
    std::string bytes;
    switch (readFileStart(path, kParameterFileSize, bytes, error)) {
    case TextFileStatus::Missing:
        return ReadStatus::Missing;
    case TextFileStatus::Failed:
        return ReadStatus::Failed;
    case TextFileStatus::Read:
        break;
    }
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    const std::size_t size = bytes.size();
    std::copy_n(data, std::min(size, kBlock), model.image.begin());
    for (std::size_t slot = 0; slot < std::size_t(kSlotCount); ++slot) {
        const std::size_t start = kBlock * (slot + 1);
        if (size <= start) break;
        std::copy_n(data + start, std::min(size - start, kBlock), model.modeSlots[slot].begin());
    }
    return ReadStatus::Read;
}

ReadStatus readWholeParameterFile(const std::string &path, ParameterModel &model,
                                  std::string &error)
{
    std::uint64_t size = 0;
    if (fileKind(path, &size) == FileKind::Regular && size != kParameterFileSize) {
        error = path + ": not a parameter file (" + std::to_string(size) + " bytes, not " +
                std::to_string(kParameterFileSize) + ")";
        return ReadStatus::Failed;
    }
    ParameterModel read = model;
    const ReadStatus status = readParameterFile(path, read, error);
    if (status == ReadStatus::Read) model = read;
    return status;
}

bool writeParameterFile(const std::string &path, const ParameterModel &model, std::string &error,
                        SaveMethod *used)
{
    unsigned char bytes[kParameterFileSize];
    std::copy(model.image.begin(), model.image.end(), bytes);
    for (std::size_t slot = 0; slot < std::size_t(kSlotCount); ++slot)
        std::copy(model.modeSlots[slot].begin(), model.modeSlots[slot].end(),
                  bytes + kBlock * (slot + 1));
    return writeFileSafely(path, bytes, sizeof bytes, error, used);
}

std::string withDefaultExtension(const std::string &name, bool firstFilterEntry)
{
    if (!firstFilterEntry) return name;
    const auto folder = name.find_last_of("/\\:");
    const auto dot = name.rfind('.');
    const bool hasExtension =
        dot != std::string::npos && (folder == std::string::npos || dot > folder);
    return hasExtension ? name : name + ".dat";
}

} // namespace zev
