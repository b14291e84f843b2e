// Telnet (RFC 854) with the COM port control option (RFC 2217), as a client of a serial
// device server speaks it: bytes in, bytes out, no I/O.
//
// The client offers binary both ways and the COM port option, sends the line settings as COM
// port commands, doubles 0xFF in its data, and answers the server's negotiation once per verb
// and option (so two programs that both answer every answer never loop). Sub-negotiations
// from the server (its replies to our settings, line and modem state) carry nothing the
// processor's frames need and are skipped; so are other Telnet commands.
//
// Memory is bounded: the decoder holds its position in the stream and which answers it gave,
// never a buffer, and its data output is never longer than its input.
#pragma once

#include "wire/LineCodes.h"

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zev {

namespace telnet {
enum : std::uint8_t {
    kIac = 255,
    kDont = 254,
    kDo = 253,
    kWont = 252,
    kWill = 251,
    kSb = 250,
    kSe = 240,
    kBinary = 0,
    kSuppressGoAhead = 3,
    kComPort = 44,
};
/// COM port option commands (client to server).
enum : std::uint8_t {
    kSetBaudRate = 1,
    kSetDataSize = 2,
    kSetParity = 3,
    kSetStopSize = 4,
    kSetControl = 5,
};
} // namespace telnet

class TelnetCodec {
public:
    /// What the client says when the connection opens: WILL COM-PORT, WILL BINARY, DO BINARY.
    /// These count as answered: the server's DO or WILL for them gets no second answer.
    std::vector<std::uint8_t> opening();

    /// The line's rate, data bits, parity and stop bits as COM port commands.
    static std::vector<std::uint8_t> lineCommands(const LineSettings &line);
    /// The flow control (kFlowNone, kFlowHardware, kFlowSoftware) as a COM port command.
    static std::vector<std::uint8_t> flowCommand(int flow);

    /// Data for the server, with every 0xFF doubled, appended to `out`.
    static void escape(const std::uint8_t *data, std::size_t size, std::vector<std::uint8_t> &out);

    /// Bytes from the server: the processor's data goes to `data` (room for `size` bytes is
    /// enough), answers to the server's negotiation are appended to `replies`. Returns the
    /// number of data bytes. A command split between two calls is taken up where it stopped.
    std::size_t receive(const std::uint8_t *in, std::size_t size, std::uint8_t *data,
                        std::vector<std::uint8_t> &replies);

private:
    void negotiate(std::uint8_t verb, std::uint8_t option, std::vector<std::uint8_t> &replies);

    enum class Rx { Data, Iac, Option, Sub, SubIac } m_rx = Rx::Data;
    std::uint8_t m_verb = 0;
    std::bitset<1024> m_answered; ///< answers given, by verb (WILL, WONT, DO, DONT) and option
};

} // namespace zev
