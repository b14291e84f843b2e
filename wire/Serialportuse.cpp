#include "wire/Serialportuse.h"

#include "wire/FrameCodec.h"

#include <cstring>

namespace zev {

// The buffers are left as they are: their initial content is never read.
SerialChannel::SerialChannel(SerialLibrary &library, std::int32_t capacity)
    : m_library(library), m_capacity(capacity < kMinimumCapacity ? kMinimumCapacity : capacity),
      m_receive(new std::uint8_t[std::size_t(m_capacity)]),
      m_discard(new std::uint8_t[std::size_t(m_capacity)])
{
}

void SerialChannel::opened(std::int32_t port)
{
    m_library.setLine(port, m_baudCode, m_modeCode);
    m_library.setFlow(port, m_flowCode);
    m_openPort = port;
    m_open = true;
    m_deviceLost = false;
}

bool SerialChannel::OpenPort()
{
    if (m_open) return true;
    m_lastOpen = m_library.openPort(m_portNumber);
    if (!m_lastOpen.ok()) return false;
    opened(m_portNumber);
    return true;
}

void SerialChannel::startOpen(std::function<void(const OpenOutcome &)> done)
{
    if (m_open || m_opening) {
        done(OpenOutcome{m_open ? LineResult::Ok : LineResult::HeldHere, {}, {}, {}});
        return;
    }
    const std::int32_t port = m_portNumber;
    m_opening = true;
    m_openPort = port;
    m_library.startOpen(port, [this, port, done = std::move(done)](const OpenOutcome &outcome) {
        m_opening = false;
        m_lastOpen = outcome;
        if (outcome.ok()) opened(port);
        done(outcome);
    });
}

bool SerialChannel::ClosePort()
{
    if (m_opening) { // the open under way ends, and says nothing more
        m_opening = false;
        m_library.closePort(m_openPort);
        return true;
    }
    if (!m_open) return true;
    const int result = m_library.closePort(m_openPort);
    m_open = false;
    return result == 0;
}

void SerialChannel::resetBuffers()
{
    m_fillCount = 0;
    m_scanPosition = 0;
    m_discardCount = 0;
}

// The port is useless once its device is gone: close it, so that the next connect opens
// whatever device now stands behind the port number, and forget what the old one said.
void SerialChannel::deviceGone()
{
    ClosePort();
    resetBuffers();
    m_lastReceivedAddress = 0xFF;
    m_lastReceivedValue = 0xFF;
    m_deviceLost = true;
}

bool SerialChannel::checkDevice()
{
    if (m_open && m_library.read(m_openPort, nullptr, 0) == kSerialDeviceGone) deviceGone();
    return m_open;
}

bool SerialChannel::takeDeviceLost()
{
    const bool lost = m_deviceLost;
    m_deviceLost = false;
    return lost;
}

std::int32_t SerialChannel::ReadInput()
{
    if (!m_open) return 0;
    std::uint8_t chunk[kReadChunk];
    const int n = m_library.read(m_openPort, chunk, kReadChunk);
    if (n == kSerialDeviceGone) {
        deviceGone();
        return 0;
    }
    if (n > 0) {
        const std::int32_t count = n > kReadChunk ? kReadChunk : n;
        std::memcpy(m_receive.get() + m_fillCount, chunk, static_cast<std::size_t>(count));
        m_fillCount += count;
        if (m_fillCount > resetThreshold()) {
            resetBuffers();
            return 0;
        }
        return count;
    }
    return 0;
}

std::int32_t SerialChannel::readWaitingInput(std::int32_t limit)
{
    std::int32_t total = 0;
    while (m_open && total < limit) {
        const std::int32_t before = m_fillCount;
        const std::int32_t n = ReadInput();
        if (n == 0 && m_fillCount >= before) break; // nothing waits (a reset reads on)
        total += n > 0 ? n : kReadChunk;
    }
    return total;
}

bool SerialChannel::NextFrame(std::uint8_t &address, std::uint8_t &value)
{
    if (!m_open) return false;
    ReadInput();
    return scanFrame(address, value);
}

bool SerialChannel::scanFrame(std::uint8_t &address, std::uint8_t &value)
{
    address = 0;
    value = 0;
    while (m_scanPosition + 4 < m_fillCount) {
        const std::uint8_t *candidate = m_receive.get() + m_scanPosition;
        if (isFrameAt(candidate)) {
            m_lastReceivedAddress = address = candidate[1];
            m_lastReceivedValue = value = candidate[2];
            m_scanPosition += kFrameSize;
            return true;
        }
        // Abandon the candidate by one byte only: a frame may start inside it.
        m_discard[m_discardCount++] = *candidate;
        ++m_scanPosition;
    }
    return false;
}

bool SerialChannel::PollFrames(std::uint8_t &address, std::uint8_t &value)
{
    const bool found = NextFrame(address, value);
    if (found)
        while (NextFrame(address, value)) {
        }
    address = m_lastReceivedAddress;
    value = m_lastReceivedValue;
    return found;
}

bool SerialChannel::WriteFrame(std::uint8_t address, std::uint8_t value)
{
    if (!m_open) return false;
    const FrameBytes frame = encodeFrame(address, value);
    const int result = m_library.write(m_openPort, frame.data(), kFrameSize);
    if (result == kSerialDeviceGone) {
        deviceGone();
        return false;
    }
    if (result < 0) { // held, or not open in the layer
        ++m_refusedInARow;
        return false;
    }
    m_refusedInARow = 0;
    m_lastSentAddress = address;
    m_lastSentValue = value;
    return true;
}

} // namespace zev
