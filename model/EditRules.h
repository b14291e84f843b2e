// A person's change of one register, by the rules the window's controls follow, on a copy of
// the processor's registers: the three coupled volume pairs are kept in order (the other bar
// of a pair moves with it), and choosing a mode keeps the block of the mode being left in its
// slot and brings back the block of the mode chosen. What the window does through its change
// handlers, the venue server does here for the pages and scripts. No Qt here.
#pragma once

#include "model/ParameterModel.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace zev {

/// The echo, reverb, chorus and tremolo registers: what a fixed DSP mode ("固定模式") leaves
/// without a say, so their controls are disabled while one is chosen.
constexpr bool isEffectRegister(std::uint8_t address)
{
    return address >= 50 && address <= 64;
}

/// Changes `address` to `value` in `model.image` (and, for a mode register, the model's mode
/// slots) as the window's control would, and gives every register that took a new value, in
/// the order the window edits them. A bar's value is first brought within the bar's range, as
/// the bar shows it. Nothing for an address without a setting.
std::vector<std::uint8_t> applyEdit(ParameterModel &model, std::uint8_t address, std::uint8_t value);

/// The value of the bar's neighbouring position whose shown number is higher (`step` > 0) or
/// lower (`step` < 0) than the value's: "+" on "68dB" gives the value showing "69dB". None at
/// the end of the bar, or for a register that is no bar.
std::optional<std::uint8_t> steppedValue(const RegisterRow &row, std::uint8_t value, int step);

} // namespace zev
