// Lines to processors behind serial device servers: tcp://HOST:PORT and rfc2217://HOST:PORT.
#pragma once

#include "wire/NetworkAddress.h"
#include "wire/SerialLibrary.h"

namespace zev {

/// TCP keepalive on an open line: a peer that vanished without a word (switched off, its
/// cable pulled) is found after this much silence: kKeepIdleSeconds, then kKeepProbes
/// unanswered probes kKeepIntervalSeconds apart (9 s).
constexpr int kKeepIdleSeconds = 3, kKeepIntervalSeconds = 2, kKeepProbes = 3;

/// The serial layer over TCP (Qt Network), keyed by port number like the system's ports.
SerialLibrary &networkLines();

} // namespace zev
