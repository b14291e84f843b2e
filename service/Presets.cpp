#include "service/Presets.h"

#include "files/ParameterFile.h"
#include "files/VenueFile.h"
#include "model/Shown.h"
#include "room/VenueCheck.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cstring>

namespace zev {

std::string Presets::nameProblem(const std::string &name)
{
    if (std::string problem = roomNameProblem(name); !problem.empty()) return problem;
    return roomNameProblem(canonical(name));
}

std::string Presets::canonical(const std::string &name)
{
    return QString::fromStdString(name).normalized(QString::NormalizationForm_C).toStdString();
}

std::string Presets::withoutPath(const std::string &error, const std::string &name) const
{
    std::string out = error;
    for (const std::string &path : {path(name), m_folder})
        for (std::size_t at = out.find(path); at != std::string::npos; at = out.find(path))
            out.replace(at, path.size(), "preset '" + name + "'");
    return out;
}

std::vector<std::string> Presets::problems() const
{
    std::vector<std::string> out;
    for (const PresetInfo &preset : list()) {
        ParameterModel model;
        std::string error;
        if (!load(preset.name, model, error))
            out.push_back(preset.name + ": " + error);
        else if (const auto unshown = firstUnshownValue(model))
            out.push_back(preset.name + ": " + unshown->detail);
    }
    return out;
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

bool Presets::load(const std::string &given, ParameterModel &model, std::string &error,
                   bool *missing) const
{
    if (missing) *missing = false;
    if (const std::string problem = nameProblem(given); !problem.empty()) {
        error = problem;
        return false;
    }
    std::string name = canonical(given);
    if (!parameterFileExists(path(name)))
        if (const std::string other = lookAlike(name); !other.empty()) name = other;
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
        error = withoutPath(error, name);
        break;
    }
    return false;
}

std::string Presets::lookAlike(const std::string &name) const
{
    const std::string wanted = lookAlikeKey(name);
    for (const PresetInfo &preset : list())
        if (preset.name != name && lookAlikeKey(preset.name) == wanted) return preset.name;
    return {};
}

Presets::Stored Presets::store(const std::string &given, const ParameterModel &model, std::string &error) const
{
    if (const std::string problem = nameProblem(given); !problem.empty()) {
        error = problem;
        return Stored::BadName;
    }
    const std::string name = canonical(given);
    if (const std::string other = lookAlike(name); !other.empty()) {
        error = "'" + name + "' is the preset '" + other + "' to the eye: one name for both";
        return Stored::LookAlike;
    }
    if (!parameterFileExists(path(name)) && list().size() >= kMaxPresets) {
        error = "there are " + std::to_string(kMaxPresets) + " presets already";
        return Stored::TooMany;
    }
    if (!QDir().mkpath(QString::fromStdString(m_folder))) {
        error = "the presets' folder cannot be made";
        return Stored::Failed;
    }
    if (writeParameterFile(path(name), model, error)) return Stored::Yes;
    error = withoutPath(error, name);
    return Stored::Failed;
}

bool Presets::remove(const std::string &given, std::string &error) const
{
    if (const std::string problem = nameProblem(given); !problem.empty()) {
        error = problem;
        return false;
    }
    std::string name = canonical(given);
    if (!parameterFileExists(path(name)))
        if (const std::string other = lookAlike(name); !other.empty()) name = other;
    if (!parameterFileExists(path(name))) {
        error = "no preset '" + name + "'";
        return false;
    }
    if (!QFile::remove(QString::fromStdString(path(name)))) {
        error = "preset '" + name + "' cannot be removed";
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
