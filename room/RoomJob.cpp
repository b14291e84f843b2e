#include "room/RoomJob.h"

#include "files/ParameterFile.h"

#include <QTimer>

namespace zev {
namespace {

std::vector<std::uint8_t> unansweredOf(const TransferOutcome &outcome)
{
    std::vector<std::uint8_t> silent;
    for (const TransferResult &result : outcome.results)
        if (!result.answered) silent.push_back(result.address);
    return silent;
}

std::string addressList(const std::vector<std::uint8_t> &addresses)
{
    std::string text;
    for (std::uint8_t address : addresses)
        text += (text.empty() ? "" : ", ") + std::to_string(address);
    return text;
}

} // namespace

RoomJob::RoomJob(RoomTask task, SerialLibrary &lines, QObject *parent)
    : QObject(parent), m_task(std::move(task)), m_lines(lines)
{
}

RoomJob::~RoomJob() = default; // the session closes its port

void RoomJob::start()
{
    if (m_phase != Phase::Waiting) return;
    m_clock.start();
    if (m_cancelled) {
        m_phase = Phase::Over;
        QTimer::singleShot(0, this, [this] { emit finished(); });
        return;
    }
    int port = 0;
    std::string error;
    PortSettings settings;
    if (!portNumberFor(m_task.line, port, error)) return fail(Outcome::BadLine, error);
    if (!lineSettingsFor(port, m_task.options, settings, error))
        return fail(Outcome::BadLine, error);
    m_session = std::make_unique<LinkSession>(m_lines, nullptr, kJobChannelCapacity);
    m_session->setLine(settings);
    m_phase = Phase::Opening;
    emit progress(m_phase, 0, 0);
    m_session->startOpen([this](const OpenOutcome &outcome) { opened(outcome); });
}

void RoomJob::cancel()
{
    if (m_cancelled || m_phase == Phase::Over) return;
    m_cancelled = true;
    switch (m_phase) {
    case Phase::Waiting:
        m_report.outcome = Outcome::NotStarted;
        m_phase = Phase::Over;
        QTimer::singleShot(0, this, [this] { emit finished(); });
        break;
    case Phase::Opening: // nothing to release yet
        m_session->close();
        m_report.outcome = Outcome::Interrupted;
        end();
        break;
    case Phase::Reading:
    case Phase::Writing:
    case Phase::Verifying:
    case Phase::Locking:
        m_session->cancelTransfer();
        break;
    case Phase::Connecting: // the release follows the connect's end
    case Phase::Releasing:
    case Phase::Over:
        break;
    }
}

void RoomJob::opened(const OpenOutcome &outcome)
{
    m_report.device = outcome.device;
    if (!outcome.ok()) {
        m_report.group = outcome.group;
        m_report.owner = outcome.owner;
        return fail(outcomeOfOpen(outcome.result), outcome.text);
    }
    m_phase = Phase::Connecting;
    emit progress(m_phase, 0, 0);
    m_session->startConnect(Pacing::Prompt, [this](ConnectResult result) { connected(result); });
}

void RoomJob::connected(ConnectResult result)
{
    switch (result) {
    case ConnectResult::Connected:
        if (m_cancelled) {
            m_report.outcome = Outcome::Interrupted;
            return release();
        }
        return operate();
    case ConnectResult::DeviceLost:
        return fail(Outcome::DeviceGone);
    case ConnectResult::PortNotOpen:
    case ConnectResult::NoAnswer:
        break;
    }
    m_report.outcome = Outcome::ProcessorSilent;
    release(); // someone may have been listening after all
}

// Runs a transfer; `then` gets it only when it completed. A transfer that did not complete
// ends the job: interrupted, the line gone, or the processor no longer answering.
void RoomJob::transfer(Phase phase, std::vector<TransferItem> items,
                       std::function<void(const TransferOutcome &)> then)
{
    if (m_cancelled) { // between two transfers: none more
        m_report.outcome = Outcome::Interrupted;
        return release();
    }
    m_phase = phase;
    const int total = int(items.size());
    emit progress(phase, 0, total);
    m_session->startTransfer(
        std::move(items), [this, phase, total](int done) { emit progress(phase, done, total); },
        [this, then = std::move(then)](TransferOutcome outcome) {
            m_report.transferSeconds = double(m_transferClock.nsecsElapsed()) * 1e-9;
            switch (outcome.end) {
            case TransferEnd::Completed:
                return then(outcome);
            case TransferEnd::Cancelled:
                m_report.outcome = Outcome::Interrupted;
                return release();
            case TransferEnd::DeviceGone:
            case TransferEnd::NotOpen:
                return fail(Outcome::DeviceGone);
            case TransferEnd::StoppedAnswering:
                m_report.outcome = Outcome::StoppedAnswering;
                m_report.detail =
                    "no reply to " + std::to_string(kSilentFrames) + " frames in a row";
                return release();
            }
        });
}

// Every register read back into `held`; one that never answered fails the job.
void RoomJob::readBack(Phase phase, std::function<void()> then)
{
    transfer(phase, transferSet(m_report.held, true, m_task.raw),
             [this, then = std::move(then)](const TransferOutcome &outcome) {
                 for (const TransferResult &result : outcome.results)
                     if (result.answered) m_report.held[result.address] = result.value;
                 m_report.unanswered = unansweredOf(outcome);
                 std::vector<std::uint8_t> wrong;
                 for (const TransferResult &result : outcome.results)
                     if (!result.answered && result.wrong) wrong.push_back(result.address);
                 if (!wrong.empty()) {
                     // An echo of our read requests, or a unit that lies: never a backup.
                     m_report.outcome = Outcome::AnswersWrongly;
                     m_report.detail = "register(s) " + addressList(wrong) +
                                       " answered only with values no control shows";
                     return release();
                 }
                 if (!m_report.unanswered.empty()) {
                     m_report.outcome = Outcome::Unanswered;
                     m_report.detail =
                         "no answer for register(s) " + addressList(m_report.unanswered);
                     return release();
                 }
                 then();
             });
}

void RoomJob::operate()
{
    m_transferClock.start();
    switch (m_task.operation) {
    case Operation::Probe:
        m_report.outcome = Outcome::Ok;
        m_operationDone = true;
        return release();
    case Operation::Lock:
        return transfer(Phase::Locking, {{kLockAddress, kCommandValue, false}},
                        [this](const TransferOutcome &outcome) {
                            m_operationDone = true;
                            if (outcome.results.empty() || !outcome.results.front().answered) {
                                m_report.outcome = Outcome::Unanswered;
                                m_report.detail = "the processor did not confirm the lock";
                            } else {
                                m_report.outcome = Outcome::Ok;
                            }
                            release();
                        });
    case Operation::Pull:
        return readBack(Phase::Reading, [this] {
            m_operationDone = true;
            m_report.outcome = Outcome::Ok;
            release();
        });
    case Operation::Diff:
        return readBack(Phase::Reading, [this] { compareAndResend(); });
    case Operation::Push:
        return transfer(Phase::Writing, transferSet(m_task.wanted, false),
                        [this](const TransferOutcome &outcome) {
                            if (m_task.verify)
                                return readBack(Phase::Verifying, [this] { compareAndResend(); });
                            m_operationDone = true;
                            m_report.unanswered = unansweredOf(outcome);
                            m_report.outcome =
                                m_report.unanswered.empty() ? Outcome::Ok : Outcome::Unanswered;
                            if (!m_report.unanswered.empty())
                                m_report.detail = std::to_string(m_report.unanswered.size()) +
                                                  " register(s) not confirmed";
                            release();
                        });
    }
}

// The held registers against the wanted ones; a push resends what differs and reads back,
// kVerifyRounds rounds at most. A write that a faulty unit answers with another value is no
// failure here: the reading back tells.
void RoomJob::compareAndResend()
{
    std::vector<TransferItem> resend;
    m_report.differing.clear();
    for (const RegisterRow &row : registerMap())
        if (m_report.held[row.address] != m_task.wanted[row.address]) {
            m_report.differing.push_back(row.address);
            resend.push_back({row.address, m_task.wanted[row.address], false});
        }
    if (m_task.operation == Operation::Push && !resend.empty() &&
        m_report.resendRounds < kVerifyRounds && !m_cancelled) {
        ++m_report.resendRounds;
        return transfer(Phase::Writing, std::move(resend), [this](const TransferOutcome &) {
            readBack(Phase::Verifying, [this] { compareAndResend(); });
        });
    }
    m_operationDone = true;
    m_report.outcome = m_report.differing.empty() ? Outcome::Ok : Outcome::Differs;
    release();
}

void RoomJob::fail(Outcome outcome, const std::string &detail)
{
    m_report.outcome = outcome;
    if (!detail.empty()) m_report.detail = detail;
    if (m_session) m_session->close(); // nothing to tell a line that is gone or never opened
    end();
}

void RoomJob::release()
{
    m_phase = Phase::Releasing;
    emit progress(m_phase, 0, 0);
    m_session->startRelease(Pacing::Prompt, [this] { end(); });
}

void RoomJob::end()
{
    m_report.seconds = double(m_clock.nsecsElapsed()) * 1e-9;
    m_phase = Phase::Over;
    emit progress(m_phase, 0, 0);
    QTimer::singleShot(0, this, [this] { emit finished(); });
}

bool modelForPull(const std::string &slotsFrom, const RegisterImage &held, ParameterModel &model,
                  std::string &error)
{
    model.startAfresh();
    model.loadFactoryValues();
    const std::string from = slotsFrom.empty() ? kDefaultParameterFile : slotsFrom;
    const ReadStatus status = readWholeParameterFile(from, model, error);
    if (status == ReadStatus::Failed || (status == ReadStatus::Missing && !slotsFrom.empty()))
        return false;
    for (const RegisterRow &row : registerMap())
        model.image[row.address] = held[row.address];
    return true;
}

} // namespace zev
