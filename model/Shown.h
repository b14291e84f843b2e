// What the window shows of each register, without the window: its value as the window shows
// it (a label's "67dB", a scale's "#3", a mode's caption) and its name for scripts; where it
// sits and its name for people are the layout's (Layout.h). The window's scales and
// zev720ctl's reports both come from here.
#pragma once

#include "model/Layout.h"
#include "model/ParameterModel.h"
#include "model/RegisterMap.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zev {

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

/// The number a shown value stands for, as a person reads it: "68dB" 68, "+3dB" 3, "b2" (two
/// semitones down) -2, "#3" 3, "16KHz" 16000, "50" 50; none for a text without a number.
std::optional<double> numberShown(const std::string &text);

/// The register value that shows `text`, if any.
std::optional<std::uint8_t> valueShowing(const RegisterRow &row, const std::string &text);

/// Whether a control of the register shows the value: the values the panel's controls can
/// produce, and no others (a bar's positions, a check box's two, a radio button's own).
bool controlShows(const RegisterRow &row, std::uint8_t value);

/// A value that no control shows, found where a recall would send it to a processor: in the
/// image's registers, or in a mode slot's block (what choosing that mode brings back).
struct UnshownValue {
    std::string field;  ///< "MusicVolumeTrackBar", or "slot 5: EchoVolumeTrackBar"
    std::string detail; ///< "MusicVolumeTrackBar: value 250 is no value that this control shows"
};
/// The first such value of the model, if any.
std::optional<UnshownValue> firstUnshownValue(const ParameterModel &model);

} // namespace zev
