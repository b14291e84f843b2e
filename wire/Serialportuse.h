// The serial channel: one port, a large linear receive buffer and the frame scan.
//
// The channel never waits and never starts a thread: its owner polls it. Bytes are appended
// to the receive buffer in arrival order and scanned from the scan position; bytes that start
// no valid frame move to the discard buffer one at a time. Neither buffer is compacted or
// wrapped: both are emptied together when a read takes the fill count past the threshold.
// Receiving allocates nothing: the buffers are made with the record, 4,096,000 bytes each for
// the panel, or of a smaller capacity for programs that hold many lines at once.
//
// Results: booleans as documented per operation; reading, scanning, polling and writing on a
// closed channel return at once (false, or 0). Thread safety: none; one thread uses it.
#pragma once

#include "wire/SerialLibrary.h"

#include <cstdint>
#include <memory>

namespace zev {

class SerialChannel {
public:
    static constexpr std::int32_t kBufferSize = 4'096'000;
    static constexpr std::int32_t kReadChunk = 320;
    static constexpr std::int32_t kResetThreshold = kBufferSize - kReadChunk;
    /// The smallest capacity that still holds a read and a frame split across two reads.
    static constexpr std::int32_t kMinimumCapacity = 4 * kReadChunk;

    /// A closed channel on the given serial layer: port 1, 9600 baud, 8N1, no flow control,
    /// with two buffers of `capacity` bytes each (at least kMinimumCapacity).
    explicit SerialChannel(SerialLibrary &library, std::int32_t capacity = kBufferSize);
    /// Frees the record; an open port is not closed.
    ~SerialChannel() = default;
    SerialChannel(const SerialChannel &) = delete;
    SerialChannel &operator=(const SerialChannel &) = delete;

    /// Stored for the next OpenPort. An open port keeps the number it was opened with.
    void SetPortNumber(std::int32_t port) { m_portNumber = port; }
    void SetBaudCode(std::int32_t code) { m_baudCode = code; }
    void SetModeCode(std::int32_t code) { m_modeCode = code; }
    void SetFlowCode(std::int32_t code) { m_flowCode = code; }

    bool IsOpen() const { return m_open; }
    bool isOpening() const { return m_opening; }
    /// True if the port is open afterwards. An open channel is not reopened, even when the
    /// port number or line settings changed since. Returns when the open is over (see
    /// SerialLibrary: a network line may take up to kOpenDeadlineMs).
    bool OpenPort();
    /// The same without waiting: `done` is called from the event loop with the outcome, the
    /// channel open when it went well. An open channel reports Ok at once, and one that is
    /// opening HeldHere. ClosePort while it opens ends the open without calling `done`.
    void startOpen(std::function<void(const OpenOutcome &)> done);
    /// How the last open ended (Ok before the first).
    const OpenOutcome &lastOpen() const { return m_lastOpen; }
    /// True if the layer reported a clean close or the port was not open.
    bool ClosePort();
    /// Reads once (at most 320 bytes, no waiting); the number of bytes appended, or 0 when
    /// the buffers were reset because the fill count passed the threshold.
    std::int32_t ReadInput();
    /// Reads until nothing more waits or `limit` bytes came in: a server's banner of any
    /// length, ahead of a reply, is then all in the buffer for the scan. The bytes read.
    std::int32_t readWaitingInput(std::int32_t limit);
    /// Reads once, then looks for the next valid frame. True with the frame when one was found.
    bool NextFrame(std::uint8_t &address, std::uint8_t &value);
    /// Looks for the next valid frame in what was read, without reading.
    bool scanFrame(std::uint8_t &address, std::uint8_t &value);
    /// Consumes every waiting frame. True if at least one was found; the outputs hold the last
    /// frame ever found (0xFF, 0xFF before the first).
    bool PollFrames(std::uint8_t &address, std::uint8_t &value);
    /// Writes FE address value checksum FD. True if the layer accepted it.
    bool WriteFrame(std::uint8_t address, std::uint8_t value);
    /// Frames refused by the layer since the last one it accepted: a held line (flow control,
    /// a device that stopped reading) refuses every frame while the port stays open.
    std::uint32_t refusedInARow() const { return m_refusedInARow; }

    /// Calls `ready` from the event loop whenever input may be waiting (see SerialLibrary).
    void WatchInput(std::function<void()> ready)
    {
        if (m_open) m_library.watchInput(m_openPort, std::move(ready));
    }
    /// The line settings it opens with (codes, see LineCodes.h).
    std::int32_t baudCode() const { return m_baudCode; }
    std::int32_t modeCode() const { return m_modeCode; }

    /// Asks the layer whether the open port's device is still there; a channel whose device
    /// went away closes itself (as on a read or write). True while the port is open.
    bool checkDevice();
    /// True once after the channel closed itself because the device disappeared.
    bool takeDeviceLost();

    // The record's state, for tests and diagnostics.
    std::int32_t capacity() const { return m_capacity; }
    std::int32_t resetThreshold() const { return m_capacity - kReadChunk; }
    std::int32_t fillCount() const { return m_fillCount; }
    std::int32_t scanPosition() const { return m_scanPosition; }
    std::int32_t discardCount() const { return m_discardCount; }
    const std::uint8_t *discarded() const { return m_discard.get(); }
    std::uint8_t lastSentAddress() const { return m_lastSentAddress; }
    std::uint8_t lastSentValue() const { return m_lastSentValue; }

private:
    void resetBuffers();
    void deviceGone();

    void opened(std::int32_t port);

    SerialLibrary &m_library;
    std::int32_t m_capacity;
    std::unique_ptr<std::uint8_t[]> m_receive;
    std::unique_ptr<std::uint8_t[]> m_discard;
    OpenOutcome m_lastOpen;
    std::uint8_t m_lastReceivedAddress = 0xFF;
    std::uint8_t m_lastReceivedValue = 0xFF;
    std::uint8_t m_lastSentAddress = 0xFF;
    std::uint8_t m_lastSentValue = 0xFF;
    std::int32_t m_scanPosition = 0;
    std::int32_t m_fillCount = 0;
    std::int32_t m_discardCount = 0;
    std::int32_t m_portNumber = 1;
    std::int32_t m_openPort = 1; ///< the number the open port was opened with
    std::int32_t m_baudCode = 12;
    std::int32_t m_modeCode = 3;
    std::int32_t m_flowCode = 0;
    std::uint32_t m_refusedInARow = 0;
    bool m_open = false;
    bool m_opening = false;
    bool m_deviceLost = false;
};

} // namespace zev
