#include "wire/LineCodes.h"

namespace zev {
namespace {
constexpr std::int32_t kParityCodes[] = {0x00, 0x18, 0x08, 0x28, 0x38}; // None Even Odd Mark Space
constexpr std::int32_t kParityMask = 0x38;
constexpr std::int32_t kDataBitsMask = 0x03;
constexpr std::int32_t kTwoStopBits = 0x04;
constexpr std::int32_t kFlowCodes[] = {kFlowNone, kFlowHardware, kFlowSoftware};

template <typename T, int N> std::int32_t at(const T (&table)[N], std::int32_t index)
{
    return index >= 0 && index < N ? table[index] : 0;
}
} // namespace

std::int32_t baudCode(std::int32_t baudIndex)
{
    return baudIndex >= 0 && baudIndex < kBaudRateCount ? baudIndex : 0;
}

std::int32_t modeCode(std::int32_t parityIndex, std::int32_t dataBitsIndex,
                      std::int32_t stopBitsIndex)
{
    const std::int32_t data = dataBitsIndex >= 0 && dataBitsIndex <= 3 ? dataBitsIndex : 0;
    const std::int32_t stop = stopBitsIndex == 1 ? kTwoStopBits : 0;
    return at(kParityCodes, parityIndex) | data | stop;
}

std::int32_t flowCode(std::int32_t flowIndex)
{
    return at(kFlowCodes, flowIndex);
}

LineSettings decodeLine(std::int32_t baud, std::int32_t mode)
{
    LineSettings line;
    line.baudRate = kBaudRates[baud >= 0 && baud < kBaudRateCount ? baud : 0];
    line.dataBits = 5 + (mode & kDataBitsMask);
    line.stopBits = (mode & kTwoStopBits) ? 2 : 1;
    line.parity = Parity::None;
    for (int p = 0; p < 5; ++p)
        if ((mode & kParityMask) == kParityCodes[p]) line.parity = static_cast<Parity>(p);
    return line;
}

int decodeFlow(std::int32_t flow)
{
    return flow == kFlowHardware || flow == kFlowSoftware ? flow : kFlowNone;
}

} // namespace zev
