// What the window shows of each register, without the window: its page and group, the name
// people know it by, and its value as the window shows it (a label's "67dB", a scale's "#3", a
// mode's caption). The window's scales and zev720ctl's reports both come from here.
#pragma once

#include "model/RegisterMap.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zev {

struct Placement {
    const char *page;  ///< "音乐调整", "话筒调整" or "效果调整"
    const char *group; ///< the group box or panel around the control; "" on the page itself
};

/// Where a register's control sits in the window.
Placement placementOf(std::uint8_t address);

/// The register's name for people: its group (or page) and caption, "音乐调整 音量".
std::string displayName(const RegisterRow &row);

/// A name for files and scripts: the control's design name, or the radio group's
/// ("MusicVolumeTrackBar", "DSPModeRadioGroup").
std::string machineName(const RegisterRow &row);
const RegisterRow *findRegisterByName(const std::string &name);

/// Captions of the scale beside a bar without a value label, one per position from the top
/// (Min); empty for other registers.
const std::vector<std::string> &scaleOf(std::uint8_t address);

/// The value as the window shows it: the label or scale caption at the bar's position, "开" or
/// "关" for a check box, the caption of the chosen radio button ("固定模式 P7" for a fixed DSP
/// mode). A value that no control shows is given as "?" and the byte ("? 200").
std::string shownValue(const RegisterRow &row, std::uint8_t value);

/// The register value that shows `text`, if any.
std::optional<std::uint8_t> valueShowing(const RegisterRow &row, const std::string &text);

} // namespace zev
