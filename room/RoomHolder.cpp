#include "room/RoomHolder.h"

#include <QRandomGenerator>

#include "model/RegisterMap.h"

#include <algorithm>
#include <utility>

namespace zev {

RoomHolder::RoomHolder(std::string line, LineOptions options, SerialLibrary &lines, HoldTiming timing,
                       QObject *parent)
    : QObject(parent), m_line(std::move(line)), m_options(std::move(options)), m_lines(lines),
      m_timing(timing), m_retryMs(timing.firstRetryMs)
{
    m_retry.setSingleShot(true);
    QObject::connect(&m_retry, &QTimer::timeout, this, [this] { connect(); });
    m_quiet.setSingleShot(true);
    QObject::connect(&m_quiet, &QTimer::timeout, this, [this] { check(); });
    m_verify.setSingleShot(true);
    m_verifyGap.setSingleShot(true);
    QObject::connect(&m_verifyGap, &QTimer::timeout, this, [this] { pump(); });
    QObject::connect(&m_verify, &QTimer::timeout, this, [this] { verify(); });
}

RoomHolder::~RoomHolder() = default; // the session closes its port

void RoomHolder::start()
{
    if (m_state != State::Stopped || m_stopping) return;
    connect();
}

void RoomHolder::setState(State state)
{
    if (state == m_state) return;
    m_state = state;
    emit stateChanged(state);
}

void RoomHolder::connect()
{
    int port = 0;
    std::string error;
    PortSettings settings;
    if (!portNumberFor(m_line, port, error) || !lineSettingsFor(port, m_options, settings, error))
        return lost(Outcome::BadLine, error); // tried again: a ports file may be mended
    m_session = std::make_unique<LinkSession>(m_lines, nullptr, 16 * 1024);
    m_session->setLine(settings);
    m_mirrored = false;
    m_readDone = m_readTotal = 0;
    setState(State::Connecting);
    m_session->startOpen([this](const OpenOutcome &outcome) { opened(outcome); });
}

void RoomHolder::opened(const OpenOutcome &outcome)
{
    if (!outcome.ok()) return lost(outcomeOfOpen(outcome.result), outcome.text);
    m_session->startConnect(Pacing::Prompt, [this](ConnectResult result) { connected(result); });
}

void RoomHolder::connected(ConnectResult result)
{
    switch (result) {
    case ConnectResult::Connected:
        return readAll();
    case ConnectResult::DeviceLost:
        return lost(Outcome::DeviceGone, {});
    case ConnectResult::PortNotOpen:
    case ConnectResult::NoAnswer:
        break;
    }
    lost(Outcome::ProcessorSilent, {});
}

bool RoomHolder::endedBadly(const TransferOutcome &outcome)
{
    switch (outcome.end) {
    case TransferEnd::Completed:
    case TransferEnd::Cancelled:
        return false;
    case TransferEnd::DeviceGone:
    case TransferEnd::NotOpen:
        lost(Outcome::DeviceGone, {});
        return true;
    case TransferEnd::StoppedAnswering:
        lost(Outcome::StoppedAnswering,
             "no reply to " + std::to_string(kSilentFrames) + " frames in a row");
        return true;
    }
    return false;
}

void RoomHolder::readAll()
{
    m_busy = true;
    std::vector<TransferItem> items = transferSet(m_mirror, true);
    items.push_back({kLockAddress, kReadRequest, true});
    m_readDone = 0;
    m_readTotal = int(items.size());
    m_session->startTransfer(std::move(items), [this](int done) { m_readDone = done; },
                             [this](TransferOutcome outcome) {
        m_busy = false;
        count(outcome);
        if (endedBadly(outcome)) return;
        if (m_stopping) return;
        // Online only once every register is read: a mirror with a register missing or
        // answered wrongly is no mirror of the processor. (The lock may go unanswered.)
        std::string missing, wrong;
        for (const TransferResult &result : outcome.results) {
            if (result.answered || result.address == kLockAddress) continue;
            std::string &list = result.wrong ? wrong : missing;
            list += (list.empty() ? "" : ", ") + std::to_string(result.address);
        }
        if (!wrong.empty())
            return lost(Outcome::AnswersWrongly,
                        "register(s) " + wrong + " answered only with values no control shows");
        if (!missing.empty())
            return lost(Outcome::Unanswered, "no answer for register(s) " + missing);
        for (const TransferResult &result : outcome.results)
            if (result.answered) m_mirror[result.address] = result.value;
        m_mirrored = true;
        m_retryMs = m_timing.firstRetryMs;
        m_reason.clear();
        m_outcome = Outcome::Ok;
        if (std::exchange(m_wasOnline, true)) ++m_counters.reconnects;
        setState(State::Online);
        m_verifyAt = -1;
        // The first whole read somewhere in the second half of the interval: rooms held at
        // once (a server's start) do not all read at once, then or ever after.
        if (m_timing.verifyMs > 0)
            m_verify.start(m_timing.verifyMs / 2 +
                           int(QRandomGenerator::global()->bounded(m_timing.verifyMs / 2 + 1)));
        emit mirrorRead();
        pump();
    });
}

void RoomHolder::write(std::uint8_t address, std::uint8_t value, std::string who)
{
    m_pending[address] = {value, std::move(who), std::chrono::steady_clock::now()};
    pump();
}

// What is queued goes out in address order; a register that was not confirmed stays queued
// unless a newer value came meanwhile, and is tried again.
void RoomHolder::pump()
{
    if (m_state != State::Online || m_busy || m_stopping) return;
    if (m_pending.empty()) {
        if (m_verifyAt >= 0) return verifyNext();
        m_quiet.start(m_timing.checkMs);
        return;
    }
    m_quiet.stop();
    std::vector<TransferItem> items;
    std::map<std::uint8_t, Pending> sent = std::move(m_pending);
    m_pending.clear();
    for (const auto &[address, pending] : sent) items.push_back({address, pending.value, false});
    m_busy = true;
    m_session->startTransfer(
        std::move(items), {}, [this, sent = std::move(sent)](TransferOutcome outcome) mutable {
            m_busy = false;
            count(outcome);
            const auto now = std::chrono::steady_clock::now();
            for (const TransferResult &result : outcome.results) {
                Pending &pending = sent[result.address];
                // A processor that answers with another value holds that one: the write is
                // over, with what it holds, rather than resent for ever.
                if (!result.answered && !result.replied) {
                    m_pending.try_emplace(result.address, std::move(pending));
                    continue;
                }
                const RegisterChange change{
                    result.address, m_mirror[result.address], result.value, pending.who,
                    std::chrono::duration<double>(now - pending.queued).count()};
                m_mirror[result.address] = result.value;
                emit changed(change);
            }
            // What the transfer never reached waits too.
            for (auto &[address, pending] : sent)
                if (std::none_of(outcome.results.begin(), outcome.results.end(),
                                 [address = address](const TransferResult &r) {
                                     return r.address == address;
                                 }))
                    m_pending.try_emplace(address, std::move(pending));
            if (endedBadly(outcome)) return;
            // Not one frame answered: the processor has gone quiet, not one register.
            if (!outcome.results.empty() &&
                std::none_of(outcome.results.begin(), outcome.results.end(),
                             [](const TransferResult &r) { return r.answered || r.replied; }))
                return lost(Outcome::StoppedAnswering,
                            "no reply to " + std::to_string(kTransferTries) + " writes");
            if (m_stopping) return;
            pump();
        });
}

// A quiet room: one register read, so that a processor switched off is noticed.
void RoomHolder::check()
{
    if (m_state != State::Online || m_busy || m_stopping) return;
    readOne(registerMap().front().address, [this](const TransferResult &read) {
        // Changed behind our back: the whole set is read again at once.
        if (read.value != m_mirror[read.address] && !m_pending.count(read.address) && m_verifyAt < 0)
            m_verifyAt = 0;
    });
}

void RoomHolder::readOne(std::uint8_t address, std::function<void(const TransferResult &)> then)
{
    m_busy = true;
    m_session->startTransfer({{address, kReadRequest, true}}, {}, [this, then = std::move(then)](TransferOutcome outcome) {
        m_busy = false;
        count(outcome);
        if (endedBadly(outcome)) return;
        if (outcome.results.empty() || !outcome.results.front().answered)
            return lost(Outcome::StoppedAnswering,
                        "no reply to " + std::to_string(kTransferTries) + " read requests");
        const TransferResult &read = outcome.results.front();
        then(read);
        takeFromUnit(read.address, read.value);
        if (m_stopping) return;
        pump();
    });
}

void RoomHolder::verify()
{
    if (m_state != State::Online || m_stopping) return;
    m_verify.stop();
    if (m_verifyAt < 0) m_verifyAt = 0;
    pump();
}

// One register of the whole read, each after a gap of the line's; writes queued meanwhile go
// first.
void RoomHolder::verifyNext()
{
    if (m_verifyGap.isActive()) return;
    const auto rows = registerMap();
    if (std::size_t(m_verifyAt) >= rows.size()) {
        m_verifyAt = -1;
        if (m_timing.verifyMs > 0) m_verify.start(m_timing.verifyMs);
        emit verified();
        return pump();
    }
    m_quiet.stop();
    readOne(rows[std::size_t(m_verifyAt)].address, [this](const TransferResult &) {
        ++m_verifyAt;
        if (m_timing.verifyGapMs > 0) m_verifyGap.start(m_timing.verifyGapMs);
    });
}

void RoomHolder::takeFromUnit(std::uint8_t address, std::uint8_t value)
{
    if (value == m_mirror[address] || m_pending.count(address)) return;
    const RegisterChange change{address, m_mirror[address], value, kUnitWho, 0};
    m_mirror[address] = value;
    ++m_counters.unitChanges;
    emit changed(change);
}

void RoomHolder::count(const TransferOutcome &outcome)
{
    for (const TransferResult &result : outcome.results) {
        m_counters.framesSent += std::uint64_t(result.tries);
        m_counters.framesResent += std::uint64_t(std::max(result.tries - 1, 0));
        if (!result.answered && !result.replied) ++m_counters.unanswered;
    }
}

void RoomHolder::lost(Outcome outcome, const std::string &detail)
{
    m_busy = false;
    m_quiet.stop();
    m_verify.stop();
    m_verifyGap.stop();
    m_verifyAt = -1;
    if (m_session) m_session->close();
    if (m_stopping) return;
    m_reason = outcomeName(outcome);
    m_outcome = outcome;
    if (!detail.empty() && detail != m_reason) m_reason += ": " + detail;
    setState(State::Offline);
    m_retry.start(m_retryMs);
    m_retryMs = std::min(m_retryMs * 2, m_timing.maxRetryMs);
}

void RoomHolder::stop(std::function<void()> done)
{
    m_stopping = true;
    m_retry.stop();
    m_quiet.stop();
    m_verify.stop();
    m_verifyGap.stop();
    const auto finish = [this, done = std::move(done)] {
        setState(State::Stopped);
        if (done) done();
    };
    // Nothing to release before the connect is answered; the read after it is cancelled first.
    if (!m_session || m_state == State::Offline || (m_state == State::Connecting && !m_busy)) {
        if (m_session) m_session->close();
        QTimer::singleShot(0, this, finish);
        return;
    }
    if (m_busy) m_session->cancelTransfer();
    // The release after the transfer's end, or at once when idle.
    auto release = [this, finish] { m_session->startRelease(Pacing::Prompt, finish); };
    if (!m_busy) {
        release();
        return;
    }
    auto *poll = new QTimer(this);
    QObject::connect(poll, &QTimer::timeout, this, [this, poll, release] {
        if (m_busy) return;
        poll->deleteLater();
        release();
    });
    poll->start(5);
}

} // namespace zev
