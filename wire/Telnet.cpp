#include "wire/Telnet.h"

namespace zev {
using namespace telnet;

namespace {

// One bit per answer a client can give: WILL, WONT, DO or DONT, and the option.
std::size_t answerKey(std::uint8_t reply, std::uint8_t option)
{
    return std::size_t(reply - kWill) * 256 + option;
}

// A COM port command: IAC SB COM-PORT command value IAC SE, with 0xFF in the value doubled.
void comPort(std::uint8_t command, std::initializer_list<std::uint8_t> value,
             std::vector<std::uint8_t> &out)
{
    out.insert(out.end(), {kIac, kSb, kComPort, command});
    for (std::uint8_t b : value) {
        out.push_back(b);
        if (b == kIac) out.push_back(kIac);
    }
    out.insert(out.end(), {kIac, kSe});
}

} // namespace

std::vector<std::uint8_t> TelnetCodec::opening()
{
    m_answered.set(answerKey(kWill, kComPort));
    m_answered.set(answerKey(kWill, kBinary));
    m_answered.set(answerKey(kDo, kBinary));
    return {kIac, kWill, kComPort, kIac, kWill, kBinary, kIac, kDo, kBinary};
}

std::vector<std::uint8_t> TelnetCodec::lineCommands(const LineSettings &line)
{
    std::vector<std::uint8_t> out;
    const auto baud = std::uint32_t(line.baudRate);
    comPort(kSetBaudRate,
            {std::uint8_t(baud >> 24), std::uint8_t(baud >> 16), std::uint8_t(baud >> 8),
             std::uint8_t(baud)},
            out);
    comPort(kSetDataSize, {std::uint8_t(line.dataBits)}, out);
    // RFC 2217 numbers: 1 none, 2 odd, 3 even, 4 mark, 5 space.
    std::uint8_t parity = 1;
    switch (line.parity) {
    case Parity::None:
        parity = 1;
        break;
    case Parity::Odd:
        parity = 2;
        break;
    case Parity::Even:
        parity = 3;
        break;
    case Parity::Mark:
        parity = 4;
        break;
    case Parity::Space:
        parity = 5;
        break;
    }
    comPort(kSetParity, {parity}, out);
    comPort(kSetStopSize, {std::uint8_t(line.stopBits == 2 ? 2 : 1)}, out);
    return out;
}

std::vector<std::uint8_t> TelnetCodec::flowCommand(int flow)
{
    // RFC 2217: 1 none, 2 XON/XOFF, 3 hardware.
    std::vector<std::uint8_t> out;
    comPort(kSetControl,
            {std::uint8_t(flow == kFlowSoftware   ? 2
                          : flow == kFlowHardware ? 3
                                                  : 1)},
            out);
    return out;
}

void TelnetCodec::escape(const std::uint8_t *data, std::size_t size, std::vector<std::uint8_t> &out)
{
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(data[i]);
        if (data[i] == kIac) out.push_back(kIac);
    }
}

// Binary both ways, no go-ahead, the COM port option; no to the rest. WONT and DONT need no
// answer. Each answer is given once: a server that repeats itself gets no second reply.
void TelnetCodec::negotiate(std::uint8_t verb, std::uint8_t option,
                            std::vector<std::uint8_t> &replies)
{
    const bool wanted = option == kBinary || option == kSuppressGoAhead || option == kComPort;
    std::uint8_t reply = 0;
    if (verb == kDo) reply = wanted ? kWill : kWont;
    if (verb == kWill) reply = wanted ? kDo : kDont;
    if (!reply) return;
    const std::size_t key = answerKey(reply, option);
    if (m_answered.test(key)) return;
    m_answered.set(key);
    replies.insert(replies.end(), {kIac, reply, option});
}

std::size_t TelnetCodec::receive(const std::uint8_t *in, std::size_t size, std::uint8_t *data,
                                 std::vector<std::uint8_t> &replies)
{
    std::size_t count = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = in[i];
        switch (m_rx) {
        case Rx::Data:
            if (b == kIac)
                m_rx = Rx::Iac;
            else
                data[count++] = b;
            break;
        case Rx::Iac:
            if (b == kIac) { // a doubled 0xFF is one data byte
                data[count++] = b;
                m_rx = Rx::Data;
            } else if (b >= kWill && b <= kDont) {
                m_verb = b;
                m_rx = Rx::Option;
            } else {
                m_rx = b == kSb ? Rx::Sub : Rx::Data; // other commands carry nothing for us
            }
            break;
        case Rx::Option:
            negotiate(m_verb, b, replies);
            m_rx = Rx::Data;
            break;
        case Rx::Sub:
            if (b == kIac) m_rx = Rx::SubIac;
            break;
        case Rx::SubIac:
            m_rx = b == kSe ? Rx::Data : Rx::Sub;
            break;
        }
    }
    return count;
}

} // namespace zev
