#include "link/LinkSession.h"

#include "link/LineCodes.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <memory>

namespace zev {
namespace {

// The latest reply on record, not necessarily an answer to this very frame.
bool lastFrameIs(SerialChannel &channel, std::uint8_t address, std::uint8_t value)
{
    std::uint8_t a = 0, v = 0;
    channel.PollFrames(a, v);
    return a == address && v == value;
}

constexpr int kFrameBytes = 5;
// Beyond the two frames on the line: the processor's turnaround and the system's latency.
constexpr int kReplyMarginMs = 20;

} // namespace

std::vector<TransferItem> transferSet(const RegisterImage &image, bool read)
{
    std::vector<TransferItem> items;
    for (const RegisterRow &row : registerMap())
        items.push_back({row.address, read ? kReadRequest : image[row.address], read});
    return items;
}

LinkSession::LinkSession(SerialLibrary &library, QObject *parent)
    : QObject(parent), m_channel(new SerialChannel(library))
{
    m_timeout.setSingleShot(true);
    m_timeout.setTimerType(Qt::PreciseTimer);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        if (m_done) return;
        if (m_results[m_current].tries >= kTransferTries)
            nextItem(false, 0);
        else
            sendCurrent();
    });
}

LinkSession::~LinkSession()
{
    if (m_channel) m_channel->WatchInput({});
}

void LinkSession::setLine(const PortSettings &settings)
{
    applyPortSettings(*m_channel, settings);
}

bool LinkSession::open()
{
    m_channel->CheckDevice(); // a device gone since the last open: open what stands there now
    return m_channel->OpenPort();
}

void LinkSession::close()
{
    m_channel->WatchInput({});
    m_channel->ClosePort();
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

bool LinkSession::lockProcessor()
{
    const auto results = runTransfer({{kLockAddress, kCommandValue, false}});
    return !results.empty() && results.front().answered;
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

std::vector<TransferResult> LinkSession::runTransfer(const std::vector<TransferItem> &items,
                                                     const std::function<void(int)> &progress)
{
    std::vector<TransferResult> results;
    bool over = false;
    startTransfer(items, progress, [&](std::vector<TransferResult> r) {
        results = std::move(r);
        over = true;
    });
    QEventLoop loop;
    while (!over)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    return results;
}

void LinkSession::startTransfer(std::vector<TransferItem> items, std::function<void(int)> progress,
                                std::function<void(std::vector<TransferResult>)> done)
{
    m_items = std::move(items);
    m_results.assign(m_items.size(), {});
    for (std::size_t i = 0; i < m_items.size(); ++i)
        m_results[i].address = m_items[i].address;
    m_progress = std::move(progress);
    m_finished = std::move(done);
    m_current = 0;
    m_cancelled = false;
    m_done = false;
    if (m_items.empty() || !m_channel->IsOpen()) {
        m_results.clear();
        QTimer::singleShot(0, this, [this] { finish(); });
        return;
    }
    m_timeout.setInterval(replyTimeoutMs());
    m_channel->WatchInput([this] { takeInput(); });
    std::uint8_t a = 0, v = 0;
    m_channel->PollFrames(a, v); // what came before the transfer is no reply
    sendCurrent();
}

// From the event loop, never from inside a handler of the channel.
void LinkSession::finish()
{
    m_done = true;
    m_timeout.stop();
    m_channel->WatchInput({});
    if (m_cancelled) m_results.resize(m_current);
    auto finished = std::move(m_finished);
    m_finished = {};
    if (finished) finished(std::move(m_results));
}

void LinkSession::startConnect(std::function<void(ConnectResult)> done)
{
    if (!m_channel->IsOpen()) {
        QTimer::singleShot(0, this, [done] { done(ConnectResult::PortNotOpen); });
        return;
    }
    auto attempt = std::make_shared<std::function<void(int)>>();
    *attempt = [this, done, attempt](int tried) {
        if (tried == kConnectAttempts) {
            done(m_channel->takeDeviceLost() ? ConnectResult::DeviceLost : ConnectResult::NoAnswer);
            *attempt = {}; // lets the closure go
            return;
        }
        m_channel->WriteFrame(kConnectAddress, kCommandValue);
        QTimer::singleShot(kConnectWaitMs, this, [this, done, attempt, tried] {
            if (lastFrameIs(*m_channel, kConnectAddress, kCommandReply)) {
                done(ConnectResult::Connected);
                *attempt = {};
            } else {
                (*attempt)(tried + 1);
            }
        });
    };
    (*attempt)(0);
}

void LinkSession::startRelease(Done done)
{
    if (m_channel->IsOpen()) m_channel->WriteFrame(kDisconnectAddress, kCommandValue);
    QTimer::singleShot(kReleaseWaitMs, this, [this, done] {
        close();
        done();
    });
}

void LinkSession::cancelTransfer()
{
    m_cancelled = true;
}

void LinkSession::sendCurrent()
{
    const TransferItem &item = m_items[m_current];
    ++m_results[m_current].tries;
    m_channel->WriteFrame(item.address, item.read ? kReadRequest : item.value);
    m_timeout.start();
    // A device gone, or a reply that came while the frame went out, is seen at once.
    takeInput();
}

void LinkSession::takeInput()
{
    if (m_done) return;
    if (m_channel->takeDeviceLost() || !m_channel->IsOpen()) {
        m_done = true; // nothing more can be answered; the rest count as failed
        m_timeout.stop();
        QTimer::singleShot(0, this, [this] { finish(); });
        return;
    }
    const TransferItem &item = m_items[m_current];
    std::uint8_t address = 0, value = 0;
    while (m_channel->NextFrame(address, value)) {
        const auto held = static_cast<std::uint8_t>(value - 1); // replies carry the value plus one
        // Only an answer for this register counts; a late reply to an earlier one is skipped.
        if (address == item.address && (item.read || held == item.value)) {
            nextItem(true, held);
            return;
        }
    }
}

void LinkSession::nextItem(bool answered, std::uint8_t value)
{
    m_timeout.stop();
    m_results[m_current].answered = answered;
    m_results[m_current].value = value;
    ++m_current;
    if (m_progress) m_progress(int(m_current));
    if (m_current >= m_items.size() || m_cancelled) {
        m_done = true;
        QTimer::singleShot(0, this, [this] { finish(); });
        return;
    }
    sendCurrent();
}

} // namespace zev
