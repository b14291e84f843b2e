// Control positions to register values and back, and the value label texts.
#pragma once

#include "model/RegisterMap.h"

#include <cstdint>
#include <string>

namespace zev {

/// Position (or the value a check box or radio handler passes) to register value, modulo 256.
/// Mode registers take the value unchanged.
std::uint8_t encodePosition(const RegisterRow &row, int position);

/// Register value to track bar position. The result may lie outside the bar's range (the bar
/// then shows its nearest end): value 100 on an attenuation bar gives 100, value 7 on a
/// boost-first EQ bar gives -7.
int decodePosition(const RegisterRow &row, std::uint8_t value);

/// Register value to check box state (switch encodings).
bool decodeChecked(const RegisterRow &row, std::uint8_t value);

/// Text of the row's value label for a bar position and register value; empty without a label.
/// The level form uses the position, the other forms the value.
std::string labelText(const RegisterRow &row, int position, std::uint8_t value);

} // namespace zev
