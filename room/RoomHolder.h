// One room's processor held for as long as a program runs: the line kept open, a live mirror
// of the 56 registers, and one queue of writes that every client of the room shares. The
// venue server stands on it; it knows nothing of who its clients are.
//
//   connecting  the line opens, the connect command is answered, all registers are read, and
//               the lock register (3) with them: 102 while the processor's data is locked;
//               only a read that every register answered rightly makes the room online
//               (readDone() tells how far it is)
//   online      the mirror is the processor's; writes go out, the latest value of a register
//               winning, one frame at a time and resent until confirmed; a quiet room is
//               asked for one register every `checkMs`, so a processor switched off is noticed;
//               every `verifyMs` the whole set is read again, one register at a time between
//               writes (a write queued goes first), so that what was changed at the unit itself
//               (its front panel, its remote, another program) is taken into the mirror and
//               told as a change by "unit:unit"; a quiet check that finds its register changed
//               starts that read at once
//   offline     with its reason (no such device, refused, no answer, stopped answering, held
//               by another program, the device went away): the line is closed and opened
//               again after `firstRetryMs`, doubling up to `maxRetryMs`; back online, the
//               whole set is read again before writes go out
//
// Writes made while offline wait and go out once the room is back and read.
//
// Thread safety: none; the thread with the event loop that runs it.
#pragma once

#include "link/LinkSession.h"
#include "room/Outcome.h"
#include "room/RoomLine.h"

#include <QObject>
#include <QTimer>
#include <chrono>
#include <map>
#include <memory>
#include <string>

namespace zev {

/// A confirmed change of one register.
struct RegisterChange {
    std::uint8_t address = 0;
    std::uint8_t before = 0;
    std::uint8_t after = 0;
    std::string who;    ///< as the write gave it
    double seconds = 0; ///< from the write's queueing to its confirmation
};

/// What a held room's line has carried since the start, for monitoring.
struct HoldCounters {
    std::uint64_t framesSent = 0;    ///< writes and read requests, resent ones included
    std::uint64_t framesResent = 0;  ///< frames sent again because no reply came in time
    std::uint64_t unanswered = 0;    ///< registers whose every frame went unanswered
    std::uint64_t reconnects = 0;    ///< times the room came back online after being offline
    std::uint64_t unitChanges = 0;   ///< registers found changed at the unit itself
};

/// Who a change found at the unit itself is by, as RegisterChange::who gives it.
constexpr const char *kUnitWho = "unit:unit";

/// The waits of a held room, in milliseconds.
struct HoldTiming {
    int firstRetryMs = 1000; ///< the first wait before opening a lost room again
    int maxRetryMs = 30000;  ///< the waits double up to this
    int checkMs = 5000;      ///< a quiet room is asked for one register this often
    int verifyMs = 600000;   ///< the whole set is read again this often (0: never)
    /// A whole read leaves the line this long between its reads, so that a user's write
    /// seldom finds a read on the line (one read's round trip is about 10 ms at 9600 baud).
    int verifyGapMs = 50;
};

class RoomHolder : public QObject {
    Q_OBJECT
public:
    enum class State { Stopped, Connecting, Online, Offline };
    RoomHolder(std::string line, LineOptions options, SerialLibrary &lines = systemSerialLibrary(),
               HoldTiming timing = {}, QObject *parent = nullptr);
    ~RoomHolder() override; ///< closes the line (the processor is not told: stop() tells it)

    /// Starts connecting; from Stopped only.
    void start();
    /// Ends what is under way after its current frame, releases the processor (disconnect,
    /// the port closed) and calls `done` from the event loop.
    void stop(std::function<void()> done);

    State state() const { return m_state; }
    /// Offline: why, in a few words ("no answer", "stopped answering: ..."), and as an outcome.
    const std::string &reason() const { return m_reason; }
    Outcome reasonOutcome() const { return m_outcome; }
    /// The processor's registers as last read or confirmed; valid once `mirrored()`.
    const RegisterImage &mirror() const { return m_mirror; }
    bool mirrored() const { return m_mirrored; }
    /// Connecting: the registers of the whole read done so far, and how many it has.
    int readDone() const { return m_readDone; }
    int readTotal() const { return m_readTotal; }
    /// The wait before the next open while offline.
    int retryDelayMs() const { return m_retryMs; }
    /// Whether the whole set is being read again now.
    bool verifying() const { return m_verifyAt >= 0; }
    /// Reads the whole set again now, between writes.
    void verify();
    /// Queues a write; a value queued for the same register before it went out is replaced.
    void write(std::uint8_t address, std::uint8_t value, std::string who);
    std::size_t pendingWrites() const { return m_pending.size(); }
    const HoldCounters &counters() const { return m_counters; }

signals:
    void stateChanged(zev::RoomHolder::State state);
    /// The whole set read (at the start and after each return).
    void mirrorRead();
    /// The whole set read again while online (verify()), whatever it found.
    void verified();
    void changed(const zev::RegisterChange &change);

private:
    struct Pending {
        std::uint8_t value = 0;
        std::string who;
        std::chrono::steady_clock::time_point queued;
    };
    void count(const TransferOutcome &outcome);
    void connect();
    void opened(const OpenOutcome &outcome);
    void connected(ConnectResult result);
    void readAll();
    void pump();
    void check();
    void verifyNext();
    /// Reads one register: `then` with its answer, which is then taken as the unit's; a
    /// processor that does not answer takes the room offline.
    void readOne(std::uint8_t address, std::function<void(const TransferResult &)> then);
    /// A register as the processor answered a read: a value unlike the mirror's was changed at
    /// the unit, unless a write of ours for it is queued (which goes out and wins).
    void takeFromUnit(std::uint8_t address, std::uint8_t value);
    void lost(Outcome outcome, const std::string &detail);
    void setState(State state);
    // A transfer that ended other than Completed takes the room offline; true when it did.
    bool endedBadly(const TransferOutcome &outcome);

    std::string m_line;
    LineOptions m_options;
    SerialLibrary &m_lines;
    HoldTiming m_timing;
    std::unique_ptr<LinkSession> m_session;
    State m_state = State::Stopped;
    std::string m_reason;
    Outcome m_outcome = Outcome::Ok;
    RegisterImage m_mirror{};
    bool m_mirrored = false;
    int m_readDone = 0;
    int m_readTotal = 0;
    bool m_busy = false; ///< a transfer is under way
    bool m_stopping = false;
    int m_retryMs = 0;
    std::map<std::uint8_t, Pending> m_pending;
    HoldCounters m_counters;
    bool m_wasOnline = false;
    QTimer m_retry;
    QTimer m_quiet;
    QTimer m_verify;
    QTimer m_verifyGap; ///< between the reads of a whole read
    int m_verifyAt = -1; ///< the next register of a whole read while online (-1: none)
};

} // namespace zev

Q_DECLARE_METATYPE(zev::RegisterChange)
