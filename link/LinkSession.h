// The link to one processor, without a window: the serial channel, the handshakes and bulk
// transfers. The panel's window and the room engine both drive the processor through it.
//
// The panel's handshakes keep its pacing: fixed waits that block the calling thread
// (connectProcessor, disconnectProcessor, releaseProcessor). Everything else runs on the
// event loop and never blocks: the open (a network line looks its host up and connects under
// one deadline), the connect and release with either pacing (Designed: the panel's fixed
// waits; Prompt: over as soon as the reply is in, bounded by the same waits), and bulk
// transfers at line speed: stop and wait, the next frame as soon as the reply to the last one
// is in, a frame without a reply sent again after a timeout taken from the line rate.
//
// Input is read when the line says it may be waiting (SerialLibrary::watchInput), never from
// inside a read, at most kInputPerPass bytes a pass of the event loop: a line that floods
// costs its share of each pass and no memory beyond the channel's buffer.
//
// A processor that stops answering is given up on: kSilentFrames frames in a row without a
// reply for the frame in flight end a transfer as StoppedAnswering (0.4 s at 9600 baud); our
// own frames echoed back and replies for other registers are no replies. A register answered
// wrongly (a faulty unit; a read answered with a value no control shows) only fails that
// register after kTransferTries.
//
// Thread safety: none; one thread with an event loop uses it.
#pragma once

#include "model/ParameterModel.h"
#include "settings/PortSettings.h"
#include "wire/Serialportuse.h"

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace zev {

/// Fixed waits of the handshakes, in milliseconds.
constexpr int kConnectAttempts = 4;
constexpr int kConnectWaitMs = 50;
constexpr int kDisconnectWaitMs = 200;
constexpr int kReleaseWaitMs = 100;
/// A frame of a bulk transfer is sent at most this often before its register counts as failed.
constexpr int kTransferTries = 5;
/// Frames in a row without any reply, after which the processor has stopped answering.
constexpr int kSilentFrames = 10;
/// Bytes taken from a line in one pass of the event loop.
constexpr int kInputPerPass = 2 * kLineBuffer;
/// A server's banner of up to this many bytes ahead of the connect reply is skipped.
constexpr int kBannerLimit = 64 * 1024;

/// How the handshakes of the non-blocking forms wait.
enum class Pacing {
    Designed, ///< the full fixed waits, as the panel's
    Prompt,   ///< over when the reply is in, the fixed waits as the bound
};

/// How a connect handshake ended.
enum class ConnectResult {
    Connected,   ///< the processor answered
    PortNotOpen, ///< the port did not open
    DeviceLost,  ///< the device went away during the handshake
    NoAnswer,    ///< the port is open, nobody answered
};

/// One register of a bulk transfer.
struct TransferItem {
    std::uint8_t address = 0;
    std::uint8_t value = 0; ///< the value to write; a read sends the read request instead
    bool read = false;
    bool raw = false; ///< a read takes any value, one that no control shows too
};

/// What became of it.
struct TransferResult {
    std::uint8_t address = 0;
    bool answered = false;
    std::uint8_t value = 0; ///< answered or replied: the value the processor holds (its reply
                            ///< less one)
    int tries = 0;          ///< frames sent for it
    /// A write not answered with its value, but answered: the processor holds `value` instead.
    bool replied = false;
    /// A read answered only with values that no control of the register shows (the last is
    /// `value`): a wrong answer, as an echo of a read request, never taken.
    bool wrong = false;
};

/// How a transfer ended.
enum class TransferEnd {
    Completed,        ///< every item was answered or used up its tries
    Cancelled,        ///< cancelTransfer: ended after the frame under way
    DeviceGone,       ///< the line went away; the rest counts as unanswered
    StoppedAnswering, ///< kSilentFrames frames in a row drew no reply at all
    NotOpen,          ///< the port was not open
};

struct TransferOutcome {
    TransferEnd end = TransferEnd::Completed;
    std::vector<TransferResult> results; ///< one per item sent (all items when Completed)
    bool complete() const { return end == TransferEnd::Completed; }
};

/// The transfer set as writes of the image's values, or as reads (`raw`: reads that take any
/// value).
std::vector<TransferItem> transferSet(const RegisterImage &image, bool read, bool raw = false);

class LinkSession : public QObject {
    Q_OBJECT
public:
    /// A closed session over the serial layer. Its channel's buffers hold `capacity` bytes
    /// each: the panel's designed size by default, less for programs with many lines.
    explicit LinkSession(SerialLibrary &library, QObject *parent = nullptr,
                         std::int32_t capacity = SerialChannel::kBufferSize);
    ~LinkSession() override; ///< closes the port (the processor is not told)

    SerialChannel &channel() { return *m_channel; }

    /// The port and line for the next open.
    void setLine(const PortSettings &settings);
    /// Opens the port unless it is open; a port whose device went away is reopened. Returns
    /// when the open is over (see SerialLibrary::openPort).
    bool open();
    /// The same without waiting; `done` from the event loop.
    void startOpen(std::function<void(const OpenOutcome &)> done);
    /// Closes the port (the processor is not told); ends an open or a transfer under way
    /// without calling back.
    void close();

    // The panel's handshakes, blocking the calling thread for their fixed waits.
    /// The connect command up to four times, 50 ms apart, until the reply is on record.
    ConnectResult connectProcessor();
    /// The disconnect command, then 200 ms; true when its reply is on record then.
    bool disconnectProcessor();
    /// At the end: the disconnect command without waiting for its reply, 100 ms, and the port
    /// closed, whether or not it was open.
    void releaseProcessor();

    // Without blocking, for many sessions on one thread: each calls its `done` once, from the
    // event loop, unless close() comes first. One at a time.
    /// The connect command up to four times, each given 50 ms.
    void startConnect(Pacing pacing, std::function<void(ConnectResult)> done);
    /// Runs the items in order, stop and wait; `progress` is called after each.
    void startTransfer(std::vector<TransferItem> items, std::function<void(int)> progress,
                       std::function<void(TransferOutcome)> done);
    /// The disconnect command, up to 100 ms for its reply, and the port closed.
    void startRelease(Pacing pacing, std::function<void()> done);
    /// Ends a running transfer after its current frame; its results so far are returned.
    void cancelTransfer();
    /// The time after which a frame without a reply is sent again, for the line in use.
    int replyTimeoutMs() const;

private:
    enum class Activity { Idle, Connecting, Transferring, Releasing };

    void takeInput();
    void connectAttempt();
    void connectOver(ConnectResult result);
    void sendCurrent();
    void nextItem(bool answered, std::uint8_t value);
    void transferOver(TransferEnd end);
    void releaseOver();
    void watch(bool on);

    std::unique_ptr<SerialChannel> m_channel;
    Activity m_activity = Activity::Idle;
    Pacing m_pacing = Pacing::Designed;
    QTimer m_timer; ///< the wait of the activity under way
    QTimer m_more;  ///< input left over from a pass: read on in the next one
    // Connect.
    int m_attempt = 0;
    bool m_replied = false; ///< the handshake's reply came in
    std::function<void(ConnectResult)> m_connected;
    // Transfer.
    std::vector<TransferItem> m_items;
    std::vector<TransferResult> m_results;
    std::function<void(int)> m_progress;
    std::function<void(TransferOutcome)> m_transferred;
    std::size_t m_current = 0;
    int m_silentFrames = 0; ///< frames sent since the last valid frame came in
    bool m_cancelled = false;
    // Release.
    std::function<void()> m_released;
};

} // namespace zev
