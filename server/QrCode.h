// A QR code of a text (a room link's address), as rows of modules for a page to draw: Debian's
// libqrencode, error correction M, with no quiet zone (the page draws its own margin).
#pragma once

#include <string>
#include <vector>

namespace zev {

/// Each row as '1' (dark) and '0'; empty when the text does not fit a QR code.
std::vector<std::string> qrRows(const std::string &text);

} // namespace zev
