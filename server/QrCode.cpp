#include "server/QrCode.h"

#include <qrencode.h>

namespace zev {

std::vector<std::string> qrRows(const std::string &text)
{
    std::vector<std::string> rows;
    QRcode *code = QRcode_encodeString8bit(text.c_str(), 0, QR_ECLEVEL_M);
    if (!code) return rows;
    const int width = code->width;
    for (int y = 0; y < width; ++y) {
        std::string row(std::size_t(width), '0');
        for (int x = 0; x < width; ++x)
            if (code->data[y * width + x] & 1) row[std::size_t(x)] = '1';
        rows.push_back(std::move(row));
    }
    QRcode_free(code);
    return rows;
}

} // namespace zev
