#include "link/LinkSession.h"

#include "model/Shown.h"
#include "wire/LineCodes.h"

#include <QThread>

namespace zev {
namespace {

// The latest reply on record, not necessarily an answer to this very frame. A server's
// banner of any length ahead of it is read first.
bool lastFrameIs(SerialChannel &channel, std::uint8_t address, std::uint8_t value)
{
    channel.readWaitingInput(kBannerLimit);
    std::uint8_t a = 0, v = 0;
    channel.PollFrames(a, v);
    return a == address && v == value;
}

constexpr int kFrameBytes = 5;
// Beyond the two frames on the line: the processor's turnaround and the system's latency.
constexpr int kReplyMarginMs = 20;

} // namespace

std::vector<TransferItem> transferSet(const RegisterImage &image, bool read, bool raw)
{
    std::vector<TransferItem> items;
    for (const RegisterRow &row : registerMap())
        items.push_back({row.address, read ? kReadRequest : image[row.address], read, raw});
    return items;
}

LinkSession::LinkSession(SerialLibrary &library, QObject *parent, std::int32_t capacity)
    : QObject(parent), m_channel(new SerialChannel(library, capacity))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        switch (m_activity) {
        case Activity::Connecting:
            if (m_replied)
                connectOver(ConnectResult::Connected);
            else if (++m_attempt >= kConnectAttempts)
                connectOver(ConnectResult::NoAnswer);
            else
                connectAttempt();
            break;
        case Activity::Transferring:
            if (m_cancelled) // the frame under way drew no answer: no resend after a cancel
                transferOver(TransferEnd::Cancelled);
            else if (m_silentFrames >= kSilentFrames)
                transferOver(TransferEnd::StoppedAnswering);
            else if (m_results[m_current].tries >= kTransferTries)
                nextItem(false, m_results[m_current].value);
            else
                sendCurrent();
            break;
        case Activity::Releasing:
            releaseOver();
            break;
        case Activity::Idle:
            break;
        }
    });
    m_more.setSingleShot(true);
    connect(&m_more, &QTimer::timeout, this, &LinkSession::takeInput);
}

LinkSession::~LinkSession()
{
    close();
}

void LinkSession::setLine(const PortSettings &settings)
{
    applyPortSettings(*m_channel, settings);
}

bool LinkSession::open()
{
    m_channel->checkDevice(); // a device gone since the last open: open what stands there now
    return m_channel->OpenPort();
}

void LinkSession::startOpen(std::function<void(const OpenOutcome &)> done)
{
    m_channel->checkDevice();
    m_channel->startOpen(std::move(done));
}

void LinkSession::close()
{
    m_activity = Activity::Idle;
    m_timer.stop();
    m_more.stop();
    m_connected = {};
    m_transferred = {};
    m_released = {};
    m_progress = {};
    watch(false);
    m_channel->ClosePort();
}

void LinkSession::watch(bool on)
{
    if (on)
        m_channel->WatchInput([this] { takeInput(); });
    else
        m_channel->WatchInput({});
}

ConnectResult LinkSession::connectProcessor()
{
    if (!m_channel->IsOpen()) return ConnectResult::PortNotOpen;
    for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
        m_channel->WriteFrame(kConnectAddress, kCommandValue);
        QThread::msleep(kConnectWaitMs);
        if (lastFrameIs(*m_channel, kConnectAddress, kCommandReply))
            return ConnectResult::Connected;
    }
    return m_channel->takeDeviceLost() ? ConnectResult::DeviceLost : ConnectResult::NoAnswer;
}

bool LinkSession::disconnectProcessor()
{
    m_channel->WriteFrame(kDisconnectAddress, kCommandValue);
    QThread::msleep(kDisconnectWaitMs);
    return lastFrameIs(*m_channel, kDisconnectAddress, kCommandReply);
}

void LinkSession::releaseProcessor()
{
    if (m_channel->IsOpen()) m_channel->WriteFrame(kDisconnectAddress, kCommandValue);
    QThread::msleep(kReleaseWaitMs);
    close();
}

int LinkSession::replyTimeoutMs() const
{
    const LineSettings line = decodeLine(m_channel->baudCode(), m_channel->modeCode());
    const int bitsPerByte =
        1 + line.dataBits + (line.parity == Parity::None ? 0 : 1) + line.stopBits;
    const int baud = line.baudRate > 0 ? line.baudRate : 9600;
    // A frame out and its reply back, twice over for a busy system, and the margin.
    const int roundTripMs = (2 * kFrameBytes * bitsPerByte * 1000 + baud - 1) / baud;
    return 2 * roundTripMs + kReplyMarginMs;
}

// Input as the line says it waits: each valid frame goes to the activity under way; what
// is left beyond this pass's share is read in the next pass.
void LinkSession::takeInput()
{
    int taken = 0;
    while (m_activity != Activity::Idle && m_channel->IsOpen()) {
        const std::int32_t before = m_channel->fillCount();
        const std::int32_t n = m_channel->ReadInput();
        const bool reset = m_channel->fillCount() < before;
        std::uint8_t address = 0, value = 0;
        while (m_activity != Activity::Idle && m_channel->scanFrame(address, value)) {
            switch (m_activity) {
            case Activity::Connecting:
                if (address == kConnectAddress && value == kCommandReply) {
                    m_silentFrames = 0;
                    m_replied = true;
                    if (m_pacing == Pacing::Prompt) connectOver(ConnectResult::Connected);
                }
                break;
            case Activity::Transferring: {
                const TransferItem &item = m_items[m_current];
                const std::uint8_t sent = item.read ? kReadRequest : item.value;
                // Only a reply for the frame in flight is an answer, or a sign of life: our own
                // frame echoed (a two-wire adapter, a loopback plug) is neither, and nor is a
                // reply for another register (a late one, or a peer that answers wrongly).
                if (address != item.address || value == sent) break;
                m_silentFrames = 0;
                const auto held = static_cast<std::uint8_t>(value - 1); // replies carry value + 1
                const RegisterRow *row = findRegister(address);
                if (item.read && !item.raw && row && !controlShows(*row, held)) {
                    // No control shows it: a wrong answer, asked again.
                    m_results[m_current].wrong = true;
                    m_results[m_current].value = held;
                } else if (item.read || held == item.value) {
                    nextItem(true, held);
                } else {
                    // The processor holds another value: it is there, and keeps that value
                    // however often the frame is resent.
                    m_results[m_current].replied = true;
                    m_results[m_current].value = held;
                }
                break;
            }
            case Activity::Releasing:
                if (address == kDisconnectAddress && value == kCommandReply &&
                    m_pacing == Pacing::Prompt)
                    releaseOver();
                break;
            case Activity::Idle:
                break;
            }
        }
        if (n == 0 && !reset) break; // nothing more waits
        taken += n > 0 ? n : SerialChannel::kReadChunk;
        if (taken >= kInputPerPass) {
            m_more.start(0); // the rest in the next pass, after the other lines' turn
            break;
        }
    }
    if (m_activity == Activity::Idle || m_channel->IsOpen() || !m_channel->takeDeviceLost()) return;
    switch (m_activity) { // the device went away under the activity
    case Activity::Connecting:
        connectOver(ConnectResult::DeviceLost);
        break;
    case Activity::Transferring:
        transferOver(TransferEnd::DeviceGone);
        break;
    case Activity::Releasing:
        releaseOver();
        break;
    case Activity::Idle:
        break;
    }
}

void LinkSession::startConnect(Pacing pacing, std::function<void(ConnectResult)> done)
{
    m_connected = std::move(done);
    m_pacing = pacing;
    m_activity = Activity::Connecting;
    if (!m_channel->IsOpen()) {
        connectOver(ConnectResult::PortNotOpen);
        return;
    }
    m_attempt = 0;
    m_replied = false;
    m_silentFrames = 0;
    watch(true);
    connectAttempt();
}

void LinkSession::connectAttempt()
{
    m_channel->WriteFrame(kConnectAddress, kCommandValue);
    m_timer.start(kConnectWaitMs);
    if (m_channel->takeDeviceLost()) connectOver(ConnectResult::DeviceLost);
}

// Every callback goes from a pass of its own: the session is left in order before it, and
// may be closed or destroyed by it.
void LinkSession::connectOver(ConnectResult result)
{
    m_activity = Activity::Idle;
    m_timer.stop();
    watch(false);
    QTimer::singleShot(0, this, [this, result] {
        auto done = std::move(m_connected);
        m_connected = {};
        if (done) done(result);
    });
}

void LinkSession::startTransfer(std::vector<TransferItem> items, std::function<void(int)> progress,
                                std::function<void(TransferOutcome)> done)
{
    m_items = std::move(items);
    m_results.assign(m_items.size(), {});
    for (std::size_t i = 0; i < m_items.size(); ++i)
        m_results[i].address = m_items[i].address;
    m_progress = std::move(progress);
    m_transferred = std::move(done);
    m_current = 0;
    m_cancelled = false;
    m_silentFrames = 0;
    m_activity = Activity::Transferring;
    if (!m_channel->IsOpen()) {
        transferOver(TransferEnd::NotOpen);
        return;
    }
    if (m_items.empty()) {
        transferOver(TransferEnd::Completed);
        return;
    }
    m_timer.setInterval(replyTimeoutMs());
    std::uint8_t a = 0, v = 0;
    m_channel->readWaitingInput(kBannerLimit);
    m_channel->PollFrames(a, v); // what came before the transfer is no reply
    watch(true);
    sendCurrent();
}

void LinkSession::sendCurrent()
{
    const TransferItem &item = m_items[m_current];
    ++m_results[m_current].tries;
    ++m_silentFrames;
    m_channel->WriteFrame(item.address, item.read ? kReadRequest : item.value);
    m_timer.start();
    if (m_channel->takeDeviceLost()) transferOver(TransferEnd::DeviceGone);
}

void LinkSession::nextItem(bool answered, std::uint8_t value)
{
    m_timer.stop();
    m_results[m_current].answered = answered;
    m_results[m_current].value = value;
    ++m_current;
    if (m_progress) m_progress(int(m_current));
    if (m_current >= m_items.size()) {
        transferOver(TransferEnd::Completed);
    } else if (m_cancelled) {
        transferOver(TransferEnd::Cancelled);
    } else {
        sendCurrent();
    }
}

void LinkSession::transferOver(TransferEnd end)
{
    m_activity = Activity::Idle;
    m_timer.stop();
    m_more.stop();
    watch(false);
    if (end != TransferEnd::Completed) m_results.resize(m_current);
    QTimer::singleShot(0, this, [this, end] {
        auto done = std::move(m_transferred);
        m_transferred = {};
        m_progress = {};
        if (done) done({end, std::move(m_results)});
    });
}

void LinkSession::cancelTransfer()
{
    m_cancelled = true;
}

void LinkSession::startRelease(Pacing pacing, std::function<void()> done)
{
    m_released = std::move(done);
    m_pacing = pacing;
    m_activity = Activity::Releasing;
    if (!m_channel->IsOpen()) {
        releaseOver();
        return;
    }
    watch(true);
    m_channel->WriteFrame(kDisconnectAddress, kCommandValue);
    m_timer.start(kReleaseWaitMs);
}

void LinkSession::releaseOver()
{
    auto done = std::move(m_released);
    close();
    QTimer::singleShot(0, this, [done = std::move(done)] {
        if (done) done();
    });
}

} // namespace zev
