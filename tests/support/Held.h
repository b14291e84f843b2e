// The venue service in-process over loopback TCP: each room's unit is the emulator's reply
// rules (sim::Processor) behind a QTcpServer, held by a Venue with short timings, and a test
// clock the service's hours and journal follow.
#pragma once

#include "model/Encoding.h"
#include "model/Shown.h"
#include "service/VenueService.h"
#include "sim/Processor.h"
#include "wire/FrameCodec.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace testing {

using namespace zev;

/// A processor on a TCP port: the emulator's reply rules, answering while `answering`.
class Unit : public QObject {
public:
    Unit()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                m_socket = socket;
                QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            }
        });
    }
    std::string line() const { return "tcp://127.0.0.1:" + std::to_string(m_server.serverPort()); }
    /// Drops the connection and takes no other: the line is gone.
    void unplug()
    {
        m_server.close();
        if (m_socket) m_socket->abort();
    }
    sim::Processor processor;
    bool answering = true;

private:
    void read(QTcpSocket *socket)
    {
        m_input += socket->readAll();
        while (m_input.size() >= kFrameSize) {
            const auto *bytes = reinterpret_cast<const std::uint8_t *>(m_input.constData());
            if (!isFrameAt(bytes)) {
                m_input.remove(0, 1);
                continue;
            }
            const auto reply = processor.receive(bytes[1], bytes[2]);
            m_input.remove(0, kFrameSize);
            if (!reply || !answering) continue;
            const FrameBytes frame = encodeFrame(reply->address, reply->value);
            socket->write(reinterpret_cast<const char *>(frame.data()), kFrameSize);
        }
    }
    QTcpServer m_server;
    QTcpSocket *m_socket = nullptr;
    QByteArray m_input;
};

inline const RegisterRow &row(std::uint8_t address)
{
    return *findRegister(address);
}

/// The value that shows `position` on the register's control.
inline std::uint8_t at(std::uint8_t address, int position)
{
    return encodePosition(row(address), position);
}

/// The value that shows `text` ("70dB").
inline std::uint8_t showing(std::uint8_t address, const char *text)
{
    return valueShowing(row(address), text).value();
}

constexpr std::uint8_t kMusicVolume = 16, kMusicMax = 17, kMicVolume = 32;

/// A clock that says what the test sets, in a zone of its choice.
struct TestClock : Clock {
    QDateTime at = QDateTime::currentDateTimeUtc();
    QTimeZone in = QTimeZone("UTC");
    QDateTime now() const override { return at; }
    QTimeZone zone() const override { return in; }
    /// Sets the local time of day in the zone ("2026-12-10T21:59").
    void setLocal(const char *text)
    {
        at = QDateTime(QDateTime::fromString(text, Qt::ISODate).date(),
                       QDateTime::fromString(text, Qt::ISODate).time(), in)
                 .toUTC();
    }
};

struct Held {
    explicit Held(std::vector<std::string> names = {"K01"}, HoldTiming timing = {100, 400, 5000, 600000})
        : units(makeUnits(names.size())), unit(*units.front()),
          venue(roomsOf(names, units), timing),
          journal(dir.path().toStdString(), 1 << 20), presets(dir.filePath("presets").toStdString()),
          service(venue, journal, presets, {kMusicVolume, kMicVolume})
    {
        std::string error;
        journal.open(error);
        service.setClock(clock);
        venue.start();
    }
    ~Held()
    {
        bool stopped = false;
        venue.stop([&] { stopped = true; });
        QTRY_VERIFY(stopped);
    }
    HeldRoom &room(std::size_t i = 0) { return venue.rooms()[i]; }
    bool online(std::size_t i = 0) { return room(i).holder->state() == RoomHolder::State::Online; }
    ChangeResult change(const Actor &actor, std::vector<RegisterWish> wishes, bool rules = true,
                        std::size_t i = 0)
    {
        std::optional<ChangeResult> got;
        service.change(room(i), actor, wishes, rules, [&](ChangeResult r) { got = std::move(r); });
        [&] { QTRY_VERIFY_WITH_TIMEOUT(got.has_value(), 15000); }();
        return got.value_or(ChangeResult{});
    }
    UndoResult undo(const Actor &actor, UndoRequest request, std::size_t i = 0)
    {
        std::optional<UndoResult> got;
        service.undo(room(i), actor, request, [&](UndoResult r) { got = std::move(r); });
        [&] { QTRY_VERIFY_WITH_TIMEOUT(got.has_value(), 15000); }();
        return got.value_or(UndoResult{});
    }
    std::vector<RoomRecall> recall(const std::string &preset, const Actor &actor,
                                   std::vector<HeldRoom *> rooms)
    {
        ParameterModel model;
        [&] { QVERIFY(!service.recallable(preset, model)); }();
        std::optional<std::vector<RoomRecall>> got;
        service.recall(preset, model, rooms, actor, [&](std::vector<RoomRecall> r) { got = std::move(r); });
        [&] { QTRY_VERIFY_WITH_TIMEOUT(got.has_value(), 15000); }();
        return got.value_or(std::vector<RoomRecall>{});
    }

    std::vector<std::unique_ptr<Unit>> units;
    Unit &unit;
    QTemporaryDir dir;
    TestClock clock;
    Venue venue;
    Journal journal;
    Presets presets;
    VenueService service;

private:
    static std::vector<std::unique_ptr<Unit>> makeUnits(std::size_t count)
    {
        std::vector<std::unique_ptr<Unit>> out;
        for (std::size_t i = 0; i < count; ++i) out.push_back(std::make_unique<Unit>());
        return out;
    }
    static std::vector<VenueRoom> roomsOf(const std::vector<std::string> &names,
                                          const std::vector<std::unique_ptr<Unit>> &units)
    {
        std::vector<VenueRoom> out;
        for (std::size_t i = 0; i < names.size(); ++i) out.push_back({names[i], units[i]->line(), 0});
        return out;
    }
};

} // namespace testing
