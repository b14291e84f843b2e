// Parameter files as JSON text that people can keep in version control and edit:
//   {"format": "zev720-parameters", "version": 1,
//    "registers": [{"name": "MusicVolumeTrackBar", "address": 16, "page": "音乐调整",
//                   "group": "音乐调整", "caption": "音量", "value": 20, "shown": "68dB"}, ...],
//    "otherBytes": {"3": 102},          image bytes outside the 56 settings that are not 0
//    "slots": ["0000…", …]}              the 21 mode slots, 512 hex digits each
// Building reads "name" (or "address") and "value" (or, without "value", "shown"); the other
// fields are for people.
#pragma once

#include "model/ParameterModel.h"

#include <QByteArray>

namespace ctl {

QByteArray parametersToJson(const zev::ParameterModel &model);
/// Throws a Failure (file error) naming the line and the entry that is wrong.
zev::ParameterModel parametersFromJson(const QByteArray &text, const QString &fileName);

} // namespace ctl
