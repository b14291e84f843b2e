// The window's layout as the pages read it: its three pages with their groups and every
// control, each control with the register's machine name and name for people, and what the
// control offers (a bar's positions with the value and the text of each, a radio group's
// buttons, a check box's two values, the fixed DSP modes). The pages hold no register table
// of their own: this is it.
#pragma once

#include <string>

namespace zev {

/// The JSON, made once.
const std::string &layoutJson();

} // namespace zev
