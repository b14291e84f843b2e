// One job on one room's processor, from the open to the release, without blocking: the
// engine that zev720ctl's commands and venues run on, many at once on one thread.
//
//   open      the line (a device, a network line under one deadline of 1.5 s)
//   connect   the connect command, over as soon as the reply is in (four tries, 50 ms each)
//   operate   probe: nothing more; pull: read the 56 registers; diff: read and compare with
//             the wanted image; lock: the lock command; push: write the 56 registers, then
//             (with verification) read them back and resend what differs, kVerifyRounds
//             rounds at most
//   release   the disconnect command, over as soon as its reply is in (100 ms at most), and
//             the port closed
//
// The report tells how it ended as a closed set (Outcome.h). A job that fails after the
// connect still releases the processor, unless the line is gone. cancel() ends the transfer
// under way after its current frame and releases: Interrupted, unless the operation was over
// already. The job knows nothing of who runs it or how its report is shown.
//
// Thread safety: none; the thread with the event loop that runs it.
#pragma once

#include "link/LinkSession.h"
#include "room/Outcome.h"
#include "room/RoomLine.h"

#include <QElapsedTimer>
#include <QObject>
#include <memory>
#include <string>
#include <vector>

namespace zev {

/// Resend rounds of a verified push at most.
constexpr int kVerifyRounds = 3;
/// Channel buffers of a job's line: a few reads' worth, not the panel's 4 MB.
constexpr std::int32_t kJobChannelCapacity = 16 * 1024;

enum class Operation { Probe, Pull, Push, Diff, Lock };

struct RoomTask {
    std::string line; ///< a port number, device path or network line (RoomLine.h)
    LineOptions options;
    Operation operation = Operation::Probe;
    RegisterImage wanted{}; ///< push: the values to write; diff: what to compare with
    bool verify = true;     ///< push: read back and resend what differs
    /// Reads take values that no control shows, as they are (else they are wrong answers).
    bool raw = false;
};

struct RoomReport {
    Outcome outcome = Outcome::NotStarted;
    std::string detail;                   ///< the reason in the system's words, or empty
    std::string device;                   ///< what the line stood for ("/dev/ttyUSB0")
    std::string group; ///< PermissionDenied: the device's group, when joining it would help
    std::string owner; ///< PermissionDenied otherwise: the user who may open it
    RegisterImage held{};                 ///< pull, diff, verified push: the processor's values
    std::vector<std::uint8_t> differing;  ///< registers whose held value is not the wanted one
    std::vector<std::uint8_t> unanswered; ///< registers never confirmed
    int resendRounds = 0;                 ///< push: rounds of resending
    double seconds = 0;                   ///< from start to the release's end
    double transferSeconds = 0;           ///< the operation's first frame to its last reply
};

class RoomJob : public QObject {
    Q_OBJECT
public:
    enum class Phase {
        Waiting,
        Opening,
        Connecting,
        Reading,
        Writing,
        Verifying,
        Locking,
        Releasing,
        Over
    };

    explicit RoomJob(RoomTask task, SerialLibrary &lines = systemSerialLibrary(),
                     QObject *parent = nullptr);
    ~RoomJob() override; ///< a job still running closes its line (the processor is not told)

    void start();
    /// Ends the job soon: its transfer after the frame under way, then the release. A job not
    /// started ends NotStarted (finished is then emitted from the event loop).
    void cancel();

    Phase phase() const { return m_phase; }
    bool over() const { return m_phase == Phase::Over; }
    const RoomTask &task() const { return m_task; }
    const RoomReport &report() const { return m_report; }

signals:
    /// Registers done of the transfer under way.
    void progress(RoomJob::Phase phase, int done, int total);
    /// Once, from the event loop; the report is final.
    void finished();

private:
    void opened(const OpenOutcome &outcome);
    void connected(ConnectResult result);
    void operate();
    void transfer(Phase phase, std::vector<TransferItem> items,
                  std::function<void(const TransferOutcome &)> then);
    void readBack(Phase phase, std::function<void()> then);
    void compareAndResend();
    void fail(Outcome outcome, const std::string &detail = {});
    void release();
    void end();

    RoomTask m_task;
    SerialLibrary &m_lines;
    std::unique_ptr<LinkSession> m_session;
    RoomReport m_report;
    Phase m_phase = Phase::Waiting;
    QElapsedTimer m_clock;
    QElapsedTimer m_transferClock;
    bool m_cancelled = false;
    bool m_operationDone = false;
};

/// The model a pull writes: the processor's registers over the mode slots of `slotsFrom`, or
/// else of "ZEV720Default.dat" in the working folder, or else the factory presets, on the image
/// a session starts from. False with `error` when a file exists but cannot be read.
bool modelForPull(const std::string &slotsFrom, const RegisterImage &held, ParameterModel &model,
                  std::string &error);

} // namespace zev
