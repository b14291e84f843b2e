// The venue server's presets: named parameter files (5,632 bytes, as the panel and zev720ctl
// write them) in the state folder's "presets" folder, written with the same safe saves.
//
// A preset's name becomes a file name, so it is checked as a room's name is: UTF-8, no '/',
// '\', leading '.', control character, or more than kMaxRoomNameBytes. It is kept in Unicode's
// composed form (NFC), and two names that differ only in case or in composition ("é" as one
// character or as "e" and an accent) are one preset: people cannot tell them apart, and many
// disks would make them one file. Errors name the preset, never a path of the server's.
//
// What a preset holds is what a recall sends: the API stores and recalls one only when every
// register, and every block a mode brings back, holds a value its control shows
// (firstUnshownValue); problems() finds those in the folder that do not.
#pragma once

#include "model/ParameterModel.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zev {

constexpr std::size_t kMaxPresets = 1000;

struct PresetInfo {
    std::string name;
    std::string modified; ///< UTC, ISO 8601
};

class Presets {
public:
    explicit Presets(std::string folder) : m_folder(std::move(folder)) {}
    /// The problem with a name ("'../x' ..."), or empty when it can be a preset's.
    static std::string nameProblem(const std::string &name);
    /// The name as presets are kept: composed (NFC).
    static std::string canonical(const std::string &name);
    /// Each stored preset that a recall would refuse, with why ("house: slot 4: ...").
    std::vector<std::string> problems() const;
    std::vector<PresetInfo> list() const;
    /// False with `error`; `missing` tells a preset that is not there from one that cannot be
    /// read.
    bool load(const std::string &name, ParameterModel &model, std::string &error,
              bool *missing = nullptr) const;
    enum class Stored { Yes, BadName, LookAlike, TooMany, Failed };
    /// Stores it; anything but Yes with `error` (a name taken in another case or composition,
    /// too many, the disk).
    Stored store(const std::string &name, const ParameterModel &model, std::string &error) const;
    bool remove(const std::string &name, std::string &error) const;

private:
    std::string path(const std::string &name) const { return m_folder + "/" + name + ".dat"; }
    /// The stored name that people would take for this one (another case or composition).
    std::string lookAlike(const std::string &name) const;
    /// An error of the file layer with the preset's name where its path stood.
    std::string withoutPath(const std::string &error, const std::string &name) const;
    std::string m_folder;
};

/// A parameter file's bytes as a model; false unless exactly kParameterFileSize bytes.
bool modelFromBytes(const std::string &bytes, ParameterModel &model);
std::string bytesOfModel(const ParameterModel &model);

} // namespace zev
