// The link to one processor, without a window: the serial channel, the handshakes and bulk
// transfers. The panel's window and zev720ctl both drive the processor through it.
//
// Handshakes keep the panel's pacing: fixed waits that block the calling thread. Bulk
// transfers run at line speed instead: stop and wait, the next frame as soon as the reply to
// the last one is in, driven by the port's readiness from the event loop; a frame without a
// reply is sent again after a timeout taken from the line rate, up to a retry limit.
//
// Thread safety: none; one thread (with an event loop for transfers) uses it.
#pragma once

#include "link/Serialportuse.h"
#include "model/ParameterModel.h"
#include "settings/PortSettings.h"

#include <QObject>
#include <QTimer>
#include <cstdint>
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
};

/// What became of it.
struct TransferResult {
    std::uint8_t address = 0;
    bool answered = false;
    std::uint8_t value = 0; ///< answered: the value the processor holds (its reply less one)
    int tries = 0;          ///< frames sent for it
};

/// The transfer set as writes of the image's values, or as reads.
std::vector<TransferItem> transferSet(const RegisterImage &image, bool read);

class LinkSession : public QObject {
    Q_OBJECT
public:
    /// A closed session over the serial layer. Create it with new or as a member: the
    /// channel inside is about 8 MB.
    explicit LinkSession(SerialLibrary &library, QObject *parent = nullptr);
    ~LinkSession() override;

    SerialChannel &channel() { return *m_channel; }

    /// The port and line for the next open.
    void setLine(const PortSettings &settings);
    /// Opens the port unless it is open; a port whose device went away is reopened.
    bool open();
    /// Closes the port (the processor is not told).
    void close();

    /// The connect command up to four times, 50 ms apart, until the reply is on record.
    ConnectResult connectProcessor();
    /// The disconnect command, then 200 ms; true when its reply is on record then.
    bool disconnectProcessor();
    /// At the end: the disconnect command without waiting for its reply, 100 ms, and the port
    /// closed, whether or not it was open.
    void releaseProcessor();
    /// The lock command as one register of a transfer; true when the processor confirmed it.
    /// (The window queues it for its monitor instead, one frame a tick.)
    bool lockProcessor();

    /// Runs the items in order, stop and wait, and returns when each is answered or has
    /// failed; `progress` is called after each. Needs no running event loop: it runs one.
    std::vector<TransferResult> runTransfer(const std::vector<TransferItem> &items,
                                            const std::function<void(int done)> &progress = {});

    // The same without blocking, for many sessions on one thread: each calls `done` from the
    // event loop when it is over.
    using Done = std::function<void()>;
    /// The connect command up to four times, 50 ms apart.
    void startConnect(std::function<void(ConnectResult)> done);
    /// A transfer as runTransfer does it.
    void startTransfer(std::vector<TransferItem> items, std::function<void(int)> progress,
                       std::function<void(std::vector<TransferResult>)> done);
    /// The disconnect command, 100 ms, and the port closed.
    void startRelease(Done done);
    /// Ends a running transfer after its current frame; its results so far are returned.
    void cancelTransfer();
    /// The time after which a frame without a reply is sent again, for the line in use.
    int replyTimeoutMs() const;

private:
    void sendCurrent();
    void takeInput();
    void nextItem(bool answered, std::uint8_t value);
    void finish();

    std::unique_ptr<SerialChannel> m_channel;
    // The running transfer.
    std::vector<TransferItem> m_items;
    std::vector<TransferResult> m_results;
    std::function<void(int)> m_progress;
    std::function<void(std::vector<TransferResult>)> m_finished;
    std::size_t m_current = 0;
    QTimer m_timeout;
    bool m_cancelled = false;
    bool m_done = true;
};

} // namespace zev
