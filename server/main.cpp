// zev720d, the venue server: holds every room's processor and shares it.
//   zev720d --venue FILE [--frame-ports FIRST]
// This first form holds the rooms of a venue file ("ROOM, LINE" a line, as zev720ctl venue
// reads it) and, with --frame-ports, gives room i (from 0, in the file's order) the frame port
// FIRST + i on 127.0.0.1 (FIRST 0: ports the system chooses). It prints each room's frame port
// and every change of a room's state on standard output. SIGTERM, SIGINT and SIGHUP release
// every processor before it ends.
#include "files/VenueFile.h"
#include "link/EndSignals.h"
#include "room/RoomHolder.h"
#include "server/FramePort.h"
#include "wire/TextFile.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr const char *kUsage =
    "Usage: zev720d --venue FILE [--frame-ports FIRST]\n"
    "\n"
    "Holds the processor of every room of a venue file (\"ROOM, LINE\" a line) and keeps it:\n"
    "each room online, connecting, or offline with its reason, and opened again when lost.\n"
    "  --venue FILE        the rooms\n"
    "  --frame-ports FIRST room i (from 0) speaks the processor's frames on 127.0.0.1 port\n"
    "                      FIRST + i, for the panel (tcp://127.0.0.1:PORT in ZEV720.ports) and\n"
    "                      zev720ctl; 0: ports the system chooses, printed at the start\n"
    "  --version, --help\n";

const char *stateName(zev::RoomHolder::State state)
{
    switch (state) {
    case zev::RoomHolder::State::Stopped:
        return "stopped";
    case zev::RoomHolder::State::Connecting:
        return "connecting";
    case zev::RoomHolder::State::Online:
        return "online";
    case zev::RoomHolder::State::Offline:
        return "offline";
    }
    return "?";
}

struct Room {
    std::string name;
    std::unique_ptr<zev::RoomHolder> holder;
    std::unique_ptr<zev::FramePort> port;
};

} // namespace

int main(int argc, char *argv[])
{
    std::string venue;
    int firstPort = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (argument == "--version") {
            std::printf("zev720d %s\n", ZEV720_VERSION);
            return 0;
        }
        if (argument == "--venue" && i + 1 < argc) {
            venue = argv[++i];
        } else if (argument == "--frame-ports" && i + 1 < argc) {
            char *end = nullptr;
            const long first = std::strtol(argv[++i], &end, 10);
            if (*end || first < 0 || first > 65535) {
                std::fprintf(stderr, "zev720d: --frame-ports %s: not a port (0 to 65535)\n",
                             argv[i]);
                return 2;
            }
            firstPort = int(first);
        } else {
            std::fprintf(stderr, "zev720d: unknown argument '%s'\n%s", argv[i], kUsage);
            return 2;
        }
    }
    if (venue.empty()) {
        std::fprintf(stderr, "zev720d: --venue FILE is needed\n%s", kUsage);
        return 2;
    }
    std::string text, error;
    std::vector<zev::VenueRoom> rooms;
    if (zev::readTextFile(venue, zev::kMaxVenueFileBytes, text, error) !=
            zev::TextFileStatus::Read ||
        !zev::parseVenueFile(text, venue, rooms, error)) {
        std::fprintf(stderr, "zev720d: %s\n", error.empty() ? (venue + ": no such file").c_str()
                                                            : error.c_str());
        return 2;
    }
    QCoreApplication app(argc, argv);
    std::vector<Room> held;
    for (std::size_t i = 0; i < rooms.size(); ++i) {
        Room room{rooms[i].name, std::make_unique<zev::RoomHolder>(rooms[i].line, zev::LineOptions{}),
                  nullptr};
        const std::string name = room.name;
        QObject::connect(room.holder.get(), &zev::RoomHolder::stateChanged, &app,
                         [name, holder = room.holder.get()](zev::RoomHolder::State state) {
                             std::printf("%s: %s", name.c_str(), stateName(state));
                             if (state == zev::RoomHolder::State::Offline)
                                 std::printf(" (%s)", holder->reason().c_str());
                             std::printf("\n");
                             std::fflush(stdout);
                         });
        if (firstPort >= 0) {
            room.port = std::make_unique<zev::FramePort>(*room.holder);
            const quint16 port = firstPort == 0 ? 0 : quint16(firstPort + int(i));
            if (!room.port->listen(QHostAddress::LocalHost, port, error)) {
                std::fprintf(stderr, "zev720d: %s: frame port %s\n", name.c_str(), error.c_str());
                return 1;
            }
            std::printf("%s: frame port tcp://127.0.0.1:%u\n", name.c_str(), room.port->port());
            const auto tell = [name](const char *what) {
                return [name, what](const std::string &who) {
                    std::printf("%s: %s %s\n", name.c_str(), who.c_str(), what);
                    std::fflush(stdout);
                };
            };
            QObject::connect(room.port.get(), &zev::FramePort::joined, &app, tell("joined"));
            QObject::connect(room.port.get(), &zev::FramePort::left, &app, tell("left"));
        }
        held.push_back(std::move(room));
    }
    std::fflush(stdout);
    for (Room &room : held) room.holder->start();

    // The end: every processor released, then out.
    zev::onEndSignal([&held] {
        auto left = std::make_shared<std::size_t>(held.size());
        if (*left == 0) QCoreApplication::quit();
        for (Room &room : held)
            room.holder->stop([left] {
                if (--*left == 0) QCoreApplication::quit();
            });
    });
    return QCoreApplication::exec();
}
