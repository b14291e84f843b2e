// The port settings' list positions as the serial layer's line codes, and back.
#pragma once

#include <cstdint>

namespace zev {

/// Line speeds by baud code (list position); code 12 is 9600.
constexpr int kBaudRates[] = {50,    75,    110,    134,    150,    300,   600,
                              1200,  1800,  2400,   4800,   7200,   9600,  19200,
                              38400, 57600, 115200, 230400, 460800, 921600};
constexpr int kBaudRateCount = static_cast<int>(sizeof kBaudRates / sizeof kBaudRates[0]);

/// Flow control codes.
constexpr int kFlowNone = 0;
constexpr int kFlowHardware = 3;  ///< RTS/CTS
constexpr int kFlowSoftware = 11; ///< XON/XOFF

/// Parity as the mode code's bits 3 to 5.
enum class Parity { None, Even, Odd, Mark, Space };

/// List positions to codes; a position outside a list contributes 0.
std::int32_t baudCode(std::int32_t baudIndex);
std::int32_t modeCode(std::int32_t parityIndex, std::int32_t dataBitsIndex,
                      std::int32_t stopBitsIndex);
std::int32_t flowCode(std::int32_t flowIndex);

/// A line as the serial layer applies it.
struct LineSettings {
    int baudRate = 9600;
    int dataBits = 8;
    int stopBits = 1;
    Parity parity = Parity::None;
    int flow = kFlowNone; ///< kFlowNone, kFlowHardware or kFlowSoftware
};

/// Codes to a line; a code outside the tables counts as 0 (code 0 of the baud list is 50).
LineSettings decodeLine(std::int32_t baud, std::int32_t mode);
int decodeFlow(std::int32_t flow);

} // namespace zev
