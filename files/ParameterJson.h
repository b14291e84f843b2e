// Parameter files as JSON text that people keep in version control and edit:
//   {"format": "zev720-parameters", "version": 1,
//    "registers": [{"name": "MusicVolumeTrackBar", "address": 16, "page": "音乐调整",
//                   "group": "音乐调整", "caption": "音量", "title": "音乐调整 音量",
//                   "value": 20, "shown": "68dB"}, ...],
//    "otherBytes": {"3": 102},          image bytes outside the 56 settings that are not 0
//    "slots": ["0000…", …]}              the 21 mode slots, 512 hex digits each
//
// Reading takes a register by "name" (or "address") and its "value" and "shown": given both,
// they must agree (an edit of one alone is refused, not half taken); given one, it must be a
// value that the control shows. A value no control shows is taken only as show writes it,
// with both: {"value": 200, "shown": "? 200"} (a unit's register read as it is). "page", "group", "caption" and "title" are for people and
// are not read. Anything else, a field given twice, a key of otherBytes that is not a plain
// address, or a file over kMaxParameterJsonBytes is refused with its line, and nothing is
// made. No Qt.
#pragma once

#include "files/Json.h"
#include "model/ParameterModel.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace zev {

/// No file that show writes comes near this (about 40 KB); anything larger is no such file.
constexpr std::size_t kMaxParameterJsonBytes = 1024 * 1024;

std::string parametersToJson(const ParameterModel &model);

/// One register as every JSON text of ours gives it (the files above, zev720ctl show --json,
/// the venue server's API): name, address, page, group, caption, title, value, shown. An
/// empty `indent` writes it on one line; otherwise a member a line, the braces at `indent`.
std::string registerToJson(const RegisterRow &row, std::uint8_t value,
                           const std::string &indent = {});

/// A register and a value to give it, read from one entry as above.
struct RegisterEntry {
    const RegisterRow *row = nullptr;
    std::uint8_t value = 0;
};
/// Reads one entry: the register by "name" or "address" (agreeing when both are given) and
/// its "value" or "shown" (agreeing when both are given; a value must be one the control
/// shows); "page", "group", "caption" and "title" are not read, other fields are refused.
/// False with `error` ("MusicVolumeTrackBar: ...") and the `line` it concerns.
bool registerFromJson(const JsonValue &item, RegisterEntry &entry, int &line, std::string &error);

/// False with `error` ("room.json:12: MusicVolumeTrackBar: ...") at the first problem.
bool parametersFromJson(std::string_view text, const std::string &fileName, ParameterModel &model,
                        std::string &error);

} // namespace zev
