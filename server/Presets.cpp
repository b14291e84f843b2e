#include "server/Presets.h"

#include "files/ParameterFile.h"
#include "files/VenueFile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cstring>

namespace zev {
namespace {

std::string folded(std::string text)
{
    for (char &c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

std::string Presets::nameProblem(const std::string &name)
{
    return roomNameProblem(name);
}

std::vector<PresetInfo> Presets::list() const
{
    std::vector<PresetInfo> out;
    const QDir folder(QString::fromStdString(m_folder));
    for (const QFileInfo &file :
         folder.entryInfoList({"*.dat"}, QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        const std::string name = file.completeBaseName().toStdString();
        if (!nameProblem(name).empty() || file.size() != qint64(kParameterFileSize)) continue;
        out.push_back({name, file.lastModified().toUTC().toString(Qt::ISODate).toStdString()});
        if (out.size() >= kMaxPresets) break;
    }
    return out;
}

bool Presets::load(const std::string &name, ParameterModel &model, std::string &error,
                   bool *missing) const
{
    if (missing) *missing = false;
    if (const std::string problem = nameProblem(name); !problem.empty()) {
        error = problem;
        return false;
    }
    ParameterModel read;
    switch (readWholeParameterFile(path(name), read, error)) {
    case ReadStatus::Read:
        model = read;
        return true;
    case ReadStatus::Missing:
        if (missing) *missing = true;
        error = "no preset '" + name + "'";
        return false;
    case ReadStatus::Failed:
        break;
    }
    return false;
}

std::string Presets::sameInAnotherCase(const std::string &name) const
{
    for (const PresetInfo &preset : list())
        if (preset.name != name && folded(preset.name) == folded(name)) return preset.name;
    return {};
}

bool Presets::store(const std::string &name, const ParameterModel &model, std::string &error) const
{
    if (const std::string problem = nameProblem(name); !problem.empty()) {
        error = problem;
        return false;
    }
    if (const std::string other = sameInAnotherCase(name); !other.empty()) {
        error = "'" + name + "' would be the same file as the preset '" + other + "'";
        return false;
    }
    if (!parameterFileExists(path(name)) && list().size() >= kMaxPresets) {
        error = "there are " + std::to_string(kMaxPresets) + " presets already";
        return false;
    }
    if (!QDir().mkpath(QString::fromStdString(m_folder))) {
        error = m_folder + ": the folder cannot be made";
        return false;
    }
    return writeParameterFile(path(name), model, error);
}

bool Presets::remove(const std::string &name, std::string &error) const
{
    if (const std::string problem = nameProblem(name); !problem.empty()) {
        error = problem;
        return false;
    }
    if (!parameterFileExists(path(name))) {
        error = "no preset '" + name + "'";
        return false;
    }
    if (!QFile::remove(QString::fromStdString(path(name)))) {
        error = path(name) + ": cannot be removed";
        return false;
    }
    return true;
}

bool modelFromBytes(const std::string &bytes, ParameterModel &model)
{
    if (bytes.size() != kParameterFileSize) return false;
    model = {};
    std::memcpy(model.image.data(), bytes.data(), 256);
    for (std::size_t slot = 0; slot < std::size_t(kSlotCount); ++slot)
        std::memcpy(model.modeSlots[slot].data(), bytes.data() + 256 * (slot + 1), 256);
    return true;
}

std::string bytesOfModel(const ParameterModel &model)
{
    std::string bytes(kParameterFileSize, '\0');
    std::memcpy(bytes.data(), model.image.data(), 256);
    for (std::size_t slot = 0; slot < std::size_t(kSlotCount); ++slot)
        std::memcpy(bytes.data() + 256 * (slot + 1), model.modeSlots[slot].data(), 256);
    return bytes;
}

} // namespace zev
