// A register that differs between two sides, the one shape in which every command and the
// venue server report it. The sides are "a" and "b" everywhere: what was wanted or given
// first (the file of a push, A of a diff) and what was found or given second (the processor,
// B). As JSON (version kResultVersion):
//
//   {"address": 16, "name": "MusicVolumeTrackBar", "title": "音乐调整 音量",
//    "english": "Music volume",
//    "a": {"value": 30, "shown": "58dB"}, "b": {"value": 31, "shown": "57dB"}}
//
// and as a line for people, each side named: "音乐调整 音量: tuned.dat 58dB, 机器 57dB".
#pragma once

#include "files/Json.h"
#include "model/English.h"
#include "model/ParameterModel.h"
#include "model/RegisterMap.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <vector>

namespace zev {

/// The version of every result that zev720ctl gives as JSON; its shapes are the README's.
constexpr int kResultVersion = 1;

/// The settings' addresses whose values differ, in address order.
std::vector<std::uint8_t> differingRegisters(const RegisterImage &a, const RegisterImage &b);

/// Writes one difference in the shape above: the one function that makes it, for zev720ctl's
/// results and the venue server's answers alike.
void writeDifference(JsonWriter &out, std::uint8_t address, std::uint8_t a, std::uint8_t b);
/// The members of writeDifference without the braces, for an object that says more.
void writeDifferenceMembers(JsonWriter &out, std::uint8_t address, std::uint8_t a, std::uint8_t b);
QJsonObject differenceJson(std::uint8_t address, std::uint8_t a, std::uint8_t b);
QJsonArray differencesJson(const std::vector<std::uint8_t> &addresses, const RegisterImage &a,
                           const RegisterImage &b);
QString differenceText(std::uint8_t address, std::uint8_t a, std::uint8_t b, const QString &sideA,
                       const QString &sideB, Language language = Language::Chinese);

/// What the processor's side is called in a line for people.
inline const char *kProcessorSide = "机器";
/// The same in `language`: "机器", "unit".
QString processorSide(Language language);

} // namespace zev
