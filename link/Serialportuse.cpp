#include "link/Serialportuse.h"

#include "link/FrameCodec.h"

#include <cstring>

namespace zev {

// The buffers are left as they are: their initial content is never read.
SerialChannel::SerialChannel(SerialLibrary &library) : m_library(library) {}

bool SerialChannel::OpenPort()
{
    if (m_open) return true;
    if (m_library.openPort(m_portNumber) != 0) return false;
    m_library.setLine(m_portNumber, m_baudCode, m_modeCode);
    m_library.setFlow(m_portNumber, m_flowCode);
    m_openPort = m_portNumber;
    m_open = true;
    return true;
}

bool SerialChannel::ClosePort()
{
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

bool SerialChannel::CheckDevice()
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
        std::memcpy(m_receive + m_fillCount, chunk, static_cast<std::size_t>(count));
        m_fillCount += count;
        if (m_fillCount > kResetThreshold) {
            resetBuffers();
            return 0;
        }
        return count;
    }
    return 0;
}

bool SerialChannel::NextFrame(std::uint8_t &address, std::uint8_t &value)
{
    if (!m_open) return false;
    ReadInput();
    address = 0;
    value = 0;
    while (m_scanPosition + 4 < m_fillCount) {
        const std::uint8_t *candidate = m_receive + m_scanPosition;
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
    if (result < 0) {
        ++m_refusedInARow;
        return false;
    }
    m_refusedInARow = 0;
    m_lastSentAddress = address;
    m_lastSentValue = value;
    return true;
}

} // namespace zev
