// Parameter files: the register image, then mode slots 0 to 20, 256 bytes each (5,632 bytes),
// with no header, version or checksum. Every byte is a register value exactly as held.
#pragma once

#include "files/AtomicFile.h"
#include "model/ParameterModel.h"

#include <cstddef>
#include <string>

namespace zev {

constexpr std::size_t kParameterFileSize = 256 * (1 + kSlotCount);
constexpr const char *kDefaultParameterFile = "ZEV720Default.dat";

/// A name without a folder is taken in the current working directory, at each use.
std::string resolveFileName(const std::string &name);

/// True when a file (not a folder) of that name exists.
bool parameterFileExists(const std::string &path);

enum class ReadStatus { Missing, Failed, Read };

/// Reads a file into the image and the slots, in file order, as far as it goes: bytes a
/// short file does not reach keep their values, bytes past 5,631 are ignored, nothing is
/// checked. Missing: no such file, nothing changed. Failed: it exists but cannot be read (it
/// is not a plain file (a folder too), or the system refuses), nothing changed, `error` names
/// the file.
ReadStatus readParameterFile(const std::string &path, ParameterModel &model, std::string &error);

/// For the tools, where a file of another size is a mistake rather than an old file: as
/// readParameterFile, but a file that is not exactly 5,632 bytes is Failed ("x.dat: not a
/// parameter file (12 bytes, not 5632)") and nothing is changed.
ReadStatus readWholeParameterFile(const std::string &path, ParameterModel &model,
                                  std::string &error);

/// Writes the image and the slots as writeFileSafely does; false with `error` on failure.
bool writeParameterFile(const std::string &path, const ParameterModel &model, std::string &error,
                        SaveMethod *used = nullptr);

/// ".dat" is added when the dialog's first filter entry was used and the name has no
/// extension (no "." after the last "/", "\" or ":"). A name ending in "." keeps it as is.
std::string withDefaultExtension(const std::string &name, bool firstFilterEntry);

} // namespace zev
