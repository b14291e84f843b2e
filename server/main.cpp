// zev720d, the venue server: holds every room's processor and shares it between the desktop
// panel and zev720ctl (frame ports), scripts (the HTTP API) and browsers (the API and its
// event stream). One thread, Qt's event loop, with the room engine.
#include "files/VenueFile.h"
#include "link/EndSignals.h"
#include "model/Shown.h"
#include "room/OpenFiles.h"
#include "room/VenueCheck.h"
#include "server/Access.h"
#include "server/Api.h"
#include "server/Backup.h"
#include "server/Notifier.h"
#include "service/Scheduler.h"
#include "service/Snapshots.h"
#include "server/FramePort.h"
#include "server/ClientAddresses.h"
#include "server/Codes.h"
#include "server/ConfigFile.h"
#include "server/Events.h"
#include "server/HttpServer.h"
#include "service/Journal.h"
#include "server/Options.h"
#include "service/Presets.h"
#include "service/Venue.h"
#include "service/VenueService.h"
#include "server/WebFiles.h"
#include "files/TextFile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr const char *kUsage =
    "Usage: zev720d [--config FILE] --venue FILE [--listen ADDRESS:PORT] [--state DIR]\n"
    "               [--name HOST]... [--desk NAME,NAME...] [--journal-bytes N]\n"
    "               [--verify-interval SECONDS] [--restore ask|auto]\n"
    "               [--snapshot-at HH:MM|off] [--snapshot-days N]\n"
    "               [--notify-url URL] [--notify-after SECONDS]\n"
    "               [--certificate FILE --key FILE] [--frame-ports FIRST]\n"
    "               [--frame-port ROOM=PORT]... [--frame-allow ADDRESS]... [--web DIR]\n"
    "               [--max-connections N] [--trusted-proxy ADDRESS]...\n"
    "       zev720d user add|remove|list ...   (zev720d user --help)\n"
    "       zev720d token add|remove ...\n"
    "       zev720d restore ARCHIVE [--state DIR] [--config-dir DIR] [--replace]\n"
    "\n"
    "Holds the processor of every room of a venue file (\"ROOM, LINE\" a line) and keeps it:\n"
    "each room online, connecting, or offline with its reason, and opened again when lost. The\n"
    "rooms are shared through an HTTP API with an event stream (/api/v1/...) and, on request,\n"
    "frame ports for the desktop panel and zev720ctl.\n"
    "  --config FILE          options from a file, one a line without its dashes\n"
    "                         (\"listen 0.0.0.0:8720\"); options after it win\n"
    "  --venue FILE           the rooms\n"
    "  --listen ADDRESS:PORT  the HTTP API (default 127.0.0.1:8720; [::]:PORT is every address\n"
    "                         of both families); an address other than loopback only once a\n"
    "                         user exists\n"
    "  --state DIR            users and what the server keeps: presets, the journal, limits.json,\n"
    "                         schedule.json (default $STATE_DIRECTORY, or ~/.local/state/zev720d)\n"
    "  --name HOST            a name or address by which browsers reach this server (the Host\n"
    "                         and Origin it accepts besides localhost, 127.0.0.1 and [::1])\n"
    "  --desk NAME,NAME       the registers desk users may change (default\n"
    "                         MusicVolumeTrackBar,MicVolumeTrackBar)\n"
    "  --certificate FILE     HTTPS with this PEM certificate (its chain after it) and\n"
    "  --key FILE             its unencrypted PEM key; cookies are then Secure\n"
    "  --web DIR              the pages for browsers (default: web/ beside the program, or\n"
    "                         ../share/zev720/web)\n"
    "  --max-connections N    connections of the API at once, event streams included (default:\n"
    "                         what the limit on open files leaves, at most 4096)\n"
    "  --trusted-proxy ADDRESS  a reverse proxy in front of the server: its X-Forwarded-For\n"
    "                         names the client of a login, and its connections are bound by\n"
    "                         the total alone (any other peer's header is not read)\n"
    "  --journal-bytes N      the journal of changes in the state folder is kept within N\n"
    "                         bytes, the oldest going first (default 16 MiB)\n"
    "  --verify-interval SECONDS  every room is read whole again this often, between writes,\n"
    "                         so that what was changed at the unit itself is taken and told\n"
    "                         (\"through\": \"unit\"); 0: never (default 600)\n"
    "  --restore ask|auto     a unit found holding the factory's settings where it held others\n"
    "                         lost them: its settings before are kept (DIR/snapshots/lost) and a\n"
    "                         technician restores them with one click (ask, the default), or\n"
    "                         the server writes them back at once (auto, journaled as restore)\n"
    "  --snapshot-at HH:MM    every room's settings kept each night at this time of the\n"
    "                         system's clock in DIR/snapshots/DATE/ROOM.dat (default 04:00; off:\n"
    "                         only on demand)\n"
    "  --snapshot-days N      snapshots kept this many days (default 30)\n"
    "  --notify-url URL       for a venue without monitoring: a JSON POST to this webhook when\n"
    "                         a room has been away --notify-after seconds (default 120), when it\n"
    "                         is back, and when its unit lost its settings; tried again with\n"
    "                         a growing pause, never holding a room up\n"
    "  --frame-ports FIRST    room i (from 0) speaks the processor's frames on 127.0.0.1 port\n"
    "                         FIRST + i, for the panel (tcp://127.0.0.1:PORT in ZEV720.ports) and\n"
    "                         zev720ctl; 0: ports the system chooses, printed at the start\n"
    "  --frame-port ROOM=PORT this room's frame port, kept whatever the order of the venue\n"
    "                         file (\"frame-port K01=4101\" in a config file)\n"
    "  --frame-allow ADDRESS  frame ports listen on every address, and take connections from\n"
    "                         this machine and the addresses given (the processor's frames\n"
    "                         carry no login: name only the technicians' PCs)\n"
    "  restore ARCHIVE        puts a backup (GET /api/v1/backup) back into the state folder,\n"
    "                         the server stopped: presets, mode memories, limits, schedule,\n"
    "                         snapshots; its config and venue files into --config-dir when\n"
    "                         given. Files there that differ are kept unless --replace\n"
    "  --codes                every code the API's answers may carry (problems, the reasons a\n"
    "                         room is offline, the ways a change comes), for translators\n"
    "  --version, --help\n";

int usage(const std::string &message)
{
    std::fprintf(stderr, "zev720d: %s\n%s", message.c_str(), kUsage);
    return 2;
}

std::vector<std::string> splitNames(const std::string &text)
{
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        out.push_back(text.substr(at, comma - at));
        at = comma + 1;
    }
    return out;
}

/// zev720d restore ARCHIVE [--state DIR] [--config-dir DIR] [--replace]
int restoreCommand(int argc, char *argv[])
{
    zev::RestoreOptions options;
    options.state = zev::defaultStateFolder();
    std::string archive;
    for (int i = 2; i < argc; ++i) {
        const std::string word = argv[i];
        if ((word == "--state" || word == "--config-dir") && i + 1 < argc)
            (word == "--state" ? options.state : options.configDir) = argv[++i];
        else if (word == "--replace")
            options.replace = true;
        else if (word.rfind("-", 0) != 0 && archive.empty())
            archive = word;
        else
            return usage("restore: unknown argument '" + word + "'");
    }
    if (archive.empty()) return usage("restore: which archive? (zev720d restore ARCHIVE --state DIR)");
    std::string bytes, error;
    if (zev::readTextFile(archive, zev::kMaxBackupBytes, bytes, error) != zev::TextFileStatus::Read) {
        std::fprintf(stderr, "zev720d: %s\n", error.empty() ? (archive + ": no such file").c_str() : error.c_str());
        return 1;
    }
    std::vector<std::string> report;
    const bool restored = zev::restoreBackup(bytes, options, report, error);
    for (const std::string &line : report) std::printf("%s\n", line.c_str());
    if (!restored) {
        std::fprintf(stderr, "zev720d: %s: %s\n", archive.c_str(), error.c_str());
        return 1;
    }
    std::printf("restored into %s; start the server\n", options.state.c_str());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && (!std::strcmp(argv[1], "user") || !std::strcmp(argv[1], "token"))) {
        std::vector<std::string> arguments(argv + 1, argv + argc);
        if (arguments.size() == 2 && arguments[1] == "--help") arguments.pop_back();
        return zev::usersCommand(arguments);
    }
    if (argc > 1 && !std::strcmp(argv[1], "restore")) return restoreCommand(argc, argv);
    zev::ServerOptions options;
    options.state = zev::defaultStateFolder();
    options.desk = {"MusicVolumeTrackBar", "MicVolumeTrackBar"};
    // A config file's lines stand where --config stands: options after it win.
    std::vector<zev::ConfigWord> words;
    std::vector<std::string> configFiles; // for backups
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--config" && i + 1 < argc) {
            std::string text, error;
            const std::string file = argv[++i];
            configFiles.push_back(file);
            if (zev::readTextFile(file, zev::kMaxConfigBytes, text, error) !=
                zev::TextFileStatus::Read) {
                std::fprintf(stderr, "zev720d: %s\n",
                             error.empty() ? (file + ": no such file").c_str() : error.c_str());
                return 2;
            }
            std::vector<zev::ConfigWord> more;
            if (!zev::configWords(text, file, more, error)) return usage(error);
            words.insert(words.end(), more.begin(), more.end());
        } else {
            words.push_back({argv[i], {}});
        }
    }
    // The words, the config files' where they stood, read by Qt's parser; what is refused names
    // the word and, for a config file's, its line.
    const QStringList valueOptions{"venue", "listen", "state", "name", "desk", "frame-port",
                                   "frame-allow", "trusted-proxy", "web", "certificate", "key",
                                   "journal-bytes", "max-connections", "frame-ports",
                                   "verify-interval", "restore", "snapshot-at", "snapshot-days",
                                   "notify-url", "notify-after"};
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const QString &name : valueOptions) parser.addOption(QCommandLineOption(name, {}, "value"));
    for (const char *name : {"help", "version", "codes"}) parser.addOption(QCommandLineOption(name));
    QStringList arguments{"zev720d"};
    for (const zev::ConfigWord &word : words) arguments << QString::fromStdString(word.text);
    const auto whereOf = [&](std::size_t at) {
        return words[at].where.empty() ? std::string() : words[at].where + ": ";
    };
    const auto isValueOption = [&](std::size_t at) {
        return words[at].text.rfind("--", 0) == 0 &&
               valueOptions.contains(QString::fromStdString(words[at].text.substr(2)));
    };
    // The word a refusal is about: an option as written, or a word that is none.
    const auto unknown = [&](const std::string &text) {
        for (std::size_t at = 0; at < words.size(); ++at)
            if ((words[at].text == text || words[at].text.rfind(text + "=", 0) == 0) &&
                (at == 0 || !isValueOption(at - 1)))
                return usage(whereOf(at) + "unknown argument '" + words[at].text + "'");
        return usage("unknown argument '" + text + "'");
    };
    if (!parser.parse(arguments)) {
        if (!parser.unknownOptionNames().isEmpty()) {
            const std::string name = parser.unknownOptionNames().first().toStdString();
            for (const std::string &written : {"--" + name, "-" + name})
                for (const zev::ConfigWord &word : words)
                    if (word.text == written || word.text.rfind(written + "=", 0) == 0)
                        return unknown(written);
            return unknown("--" + name);
        }
        return unknown(words.back().text); // an option left without its value
    }
    if (!parser.positionalArguments().isEmpty())
        return unknown(parser.positionalArguments().first().toStdString());
    if (parser.isSet("help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (parser.isSet("version")) {
        std::printf("zev720d %s\n", ZEV720_VERSION);
        return 0;
    }
    if (parser.isSet("codes")) {
        // For translators and scripts: every code an answer of the API may carry.
        for (const zev::AnswerCode &code : zev::problemCodes())
            std::printf("problem %s %d %s\n", code.code, code.status, code.meaning);
        for (const zev::Outcome outcome : zev::kOutcomes)
            std::printf("reason %s %s\n", zev::outcomeCode(outcome), zev::outcomeName(outcome));
        for (const char *through : {"api", "web", "frame port"})
            std::printf("through %s\n", through);
        return 0;
    }
    // Every value of an option, in the order given, each with where it was written.
    const auto each = [&](const char *name, const auto &take) -> int {
        for (std::size_t at = 0; at + 1 < words.size(); ++at) {
            if (words[at].text != std::string("--") + name || (at > 0 && isValueOption(at - 1))) continue;
            const std::string &value = words[at + 1].text;
            const auto bad = [&](const std::string &message) {
                return usage(whereOf(at + 1) + "--" + name + " " + value + ": " + message);
            };
            if (const int refused = take(value, bad)) return refused;
            ++at;
        }
        return 0;
    };
    const auto into = [](std::string &kept) {
        return [&kept](const std::string &value, const auto &) {
            kept = value;
            return 0;
        };
    };
    const auto number = [](long long min, long long max, const std::string &what, auto set) {
        return [=](const std::string &value, const auto &bad) {
            char *end = nullptr;
            const long long n = std::strtoll(value.c_str(), &end, 10);
            if (value.empty() || *end || n < min || n > max) return bad(what);
            set(n);
            return 0;
        };
    };
    int refused = 0;
    const auto run = [&](const char *name, const auto &take) {
        if (!refused) refused = each(name, take);
    };
    run("venue", into(options.venue));
    run("listen", [&](const std::string &value, const auto &bad) {
        return zev::parseListen(value.c_str(), options.address, options.port)
                   ? 0 : bad("not ADDRESS:PORT (127.0.0.1:8720, [::1]:8720)");
    });
    run("state", into(options.state));
    run("name", [&](const std::string &value, const auto &) {
        options.names.push_back(value);
        return 0;
    });
    run("desk", [&](const std::string &value, const auto &) {
        options.desk = splitNames(value);
        return 0;
    });
    run("frame-port", [&](const std::string &value, const auto &bad) {
        const std::size_t equals = value.rfind('=');
        char *end = nullptr;
        const long port =
            equals == std::string::npos ? 0 : std::strtol(value.c_str() + equals + 1, &end, 10);
        if (equals == std::string::npos || equals == 0 || !end || *end ||
            end == value.c_str() + equals + 1 || port < 1 || port > 65535)
            return bad("not ROOM=PORT (K01=4101, a port from 1 to 65535)");
        options.framePorts.emplace_back(value.substr(0, equals), quint16(port));
        return 0;
    });
    for (const char *name : {"frame-allow", "trusted-proxy"})
        run(name, [&, name](const std::string &value, const auto &bad) {
            QHostAddress address;
            if (!address.setAddress(QString::fromStdString(value))) return bad("not an address");
            (std::string(name) == "frame-allow" ? options.frameAllowed : options.trustedProxies)
                .push_back(address);
            return 0;
        });
    run("web", into(options.web));
    run("certificate", into(options.certificate));
    run("key", into(options.key));
    run("journal-bytes", number(65536, 1LL << 40, "not a size from 65536 bytes",
                                [&](long long n) { options.journalBytes = std::size_t(n); }));
    run("max-connections",
        number(zev::kMinConnections, zev::kMaxConnections,
               "not a number from " + std::to_string(zev::kMinConnections) + " to " +
                   std::to_string(zev::kMaxConnections),
               [&](long long n) { options.maxConnections = int(n); }));
    run("frame-ports", number(0, 65535, "not a port (0 to 65535)",
                              [&](long long n) { options.firstFramePort = int(n); }));
    run("restore", [&](const std::string &value, const auto &bad) {
        if (value != "ask" && value != "auto") return bad("ask or auto");
        options.restoreAuto = value == "auto";
        return 0;
    });
    run("snapshot-at", [&](const std::string &value, const auto &bad) {
        const auto minute = zev::parseTimeOfDay(value);
        if (value != "off" && !minute) return bad("HH:MM or off");
        options.snapshotMinute = value == "off" ? -1 : *minute;
        return 0;
    });
    run("snapshot-days", number(1, 3650, "not a number of days from 1 to 3650",
                                [&](long long n) { options.snapshotDays = int(n); }));
    run("verify-interval", number(0, 86400, "not a number of seconds from 0 to 86400",
                                  [&](long long n) { options.verifySeconds = int(n); }));
    run("notify-url", [&](const std::string &value, const auto &bad) {
        if (const std::string problem = zev::notifyUrlProblem(value); !problem.empty()) return bad(problem);
        options.notifyUrl = value;
        return 0;
    });
    run("notify-after", number(1, 86400, "not a number of seconds from 1 to 86400",
                               [&](long long n) { options.notifyAfterSeconds = int(n); }));
    if (refused) return refused;
    if (options.venue.empty()) return usage("--venue FILE is needed");
    if (options.certificate.empty() != options.key.empty())
        return usage("--certificate FILE and --key FILE go together");
    const bool tls = !options.certificate.empty();
    zev::ApiOptions api;
    std::vector<std::uint8_t> deskRegisters;
    api.secure = !options.certificate.empty();
    api.state = options.state;
    configFiles.push_back(options.venue);
    for (const std::string &file : configFiles)
        api.configFiles.push_back(QFileInfo(QString::fromStdString(file)).absoluteFilePath().toStdString());
    for (const std::string &name : options.desk) {
        const zev::RegisterRow *row = zev::findRegisterByName(name);
        if (!row) return usage("--desk: no register '" + name + "'");
        deskRegisters.push_back(row->address);
    }
    std::string text, error;
    std::vector<zev::VenueRoom> rooms;
    if (zev::readTextFile(options.venue, zev::kMaxVenueFileBytes, text, error) !=
            zev::TextFileStatus::Read ||
        !zev::parseVenueFile(text, options.venue, rooms, error) ||
        !zev::checkVenueRooms(rooms, options.venue, error)) {
        std::fprintf(stderr, "zev720d: %s\n",
                     error.empty() ? (options.venue + ": no such file").c_str() : error.c_str());
        return 2;
    }
    // Each room's frame port: its own, else FIRST + its place in the venue file, else none.
    std::vector<int> framePorts(rooms.size(), -1);
    if (options.firstFramePort > 0 && options.firstFramePort + rooms.size() - 1 > 65535)
        return usage("--frame-ports " + std::to_string(options.firstFramePort) + ": " +
                     std::to_string(rooms.size()) + " rooms do not fit below port 65536");
    if (options.firstFramePort >= 0)
        for (std::size_t i = 0; i < framePorts.size(); ++i)
            framePorts[i] = options.firstFramePort == 0 ? 0 : options.firstFramePort + int(i);
    for (const auto &[name, port] : options.framePorts) {
        const std::string &wanted = name; // clang 14 captures no structured binding
        const auto room = std::find_if(rooms.begin(), rooms.end(),
                                       [&wanted](const zev::VenueRoom &r) { return r.name == wanted; });
        if (room == rooms.end())
            return usage("--frame-port " + name + "=" + std::to_string(port) + ": no room '" +
                         name + "' in " + options.venue);
        framePorts[std::size_t(room - rooms.begin())] = port;
    }
    for (std::size_t i = 0; i < framePorts.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (framePorts[i] > 0 && framePorts[i] == framePorts[j])
                return usage("frame port " + std::to_string(framePorts[i]) + " given to both " +
                             rooms[j].name + " and " + rooms[i].name);
    if (!zev::sodiumReady()) {
        std::fprintf(stderr, "zev720d: libsodium cannot start (no random source)\n");
        return 1;
    }
    QCoreApplication app(argc, argv);
    if (!QDir().mkpath(QString::fromStdString(options.state))) {
        std::fprintf(stderr, "zev720d: %s: the state folder cannot be made\n",
                     options.state.c_str());
        return 1;
    }
    QFile::setPermissions(QString::fromStdString(options.state),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    zev::Access access(options.state + "/users", tls);
    if (!access.load(error)) {
        std::fprintf(stderr, "zev720d: %s\n", error.c_str());
        return 1;
    }
    if (!options.address.isLoopback() && access.userCount() == 0) {
        std::fprintf(stderr,
                     "zev720d: %s: no user exists yet, so anyone who reaches the address could "
                     "use every room; listening on loopback only until one does "
                     "(zev720d user add NAME --role technician --state %s)\n",
                     options.address.toString().toUtf8().constData(), options.state.c_str());
        return 1;
    }

    // Every room's line and frame port, then the clients: the limit on open files raised as
    // far as allowed, and the connections bounded by what is left of it.
    const zev::OpenFileBudget files = zev::openFileBudget();
    std::size_t rooms_files = 64; // the program, the journal, the state folder, lookups
    for (const int port : framePorts)
        rooms_files += 2 + (port >= 0 ? 1 + std::size_t(zev::kMaxFrameClients) : 0);
    const int left = files.limit > 0 ? files.limit - int(rooms_files) : zev::kMaxConnections;
    const zev::ConnectionBounds bounds =
        zev::connectionBounds(options.maxConnections ? options.maxConnections : left);
    if (left < bounds.total)
        std::printf("open files: the limit is %d, and the rooms and %d connections may need %zu; "
                    "raise it (LimitNOFILE= in the service) or some may be refused\n",
                    files.limit, bounds.total, rooms_files + std::size_t(bounds.total));
    std::printf("connections: at most %d, %d from one address, %d with a request not read yet\n",
                bounds.total, bounds.perAddress, bounds.unread);
    zev::HoldTiming timing;
    timing.verifyMs = options.verifySeconds * 1000;
    zev::Venue venue(rooms, timing);
    for (zev::HeldRoom &room : venue.rooms()) {
        const std::string name = room.name;
        zev::RoomHolder *holder = room.holder.get();
        QObject::connect(holder, &zev::RoomHolder::stateChanged, &app,
                         [name, holder](zev::RoomHolder::State state) {
                             std::printf("%s: %s", name.c_str(), zev::stateName(state));
                             if (state == zev::RoomHolder::State::Offline)
                                 std::printf(" (%s)", holder->reason().c_str());
                             std::printf("\n");
                             std::fflush(stdout);
                         });
    }
    std::vector<std::unique_ptr<zev::FramePort>> frameListeners(venue.rooms().size());
    for (std::size_t i = 0; i < venue.rooms().size(); ++i) {
        if (framePorts[i] < 0) continue;
        zev::HeldRoom &room = venue.rooms()[i];
        std::unique_ptr<zev::FramePort> &framePort = frameListeners[i];
        framePort = std::make_unique<zev::FramePort>(*room.holder);
        const quint16 port = quint16(framePorts[i]);
        // Loopback only, unless addresses of the venue's LAN are let in by name.
        framePort->allow(options.frameAllowed);
        if (!framePort->listen(options.frameAllowed.empty() ? QHostAddress(QHostAddress::LocalHost)
                                                            : QHostAddress(QHostAddress::Any),
                               port, error)) {
            std::fprintf(stderr, "zev720d: %s: frame port %s\n", room.name.c_str(), error.c_str());
            return 1;
        }
        std::printf("%s: frame port tcp://127.0.0.1:%u\n", room.name.c_str(), framePort->port());
        const std::string name = room.name;
        const auto tell = [name](const char *what) {
            return [name, what](const std::string &who) {
                std::printf("%s: %s %s\n", name.c_str(), who.c_str(), what);
                std::fflush(stdout);
            };
        };
        QObject::connect(framePort.get(), &zev::FramePort::joined, &app, tell("joined"));
        QObject::connect(framePort.get(), &zev::FramePort::left, &app, tell("left"));
    }

    api.hosts = {"localhost", "127.0.0.1", "[::1]"};
    for (const std::string &name : options.names)
        api.hosts.push_back(name);
    if (!options.address.isLoopback() && options.address != QHostAddress::Any &&
        options.address != QHostAddress::AnyIPv6 && options.address != QHostAddress::AnyIPv4)
        api.hosts.push_back(options.address.protocol() == QAbstractSocket::IPv6Protocol
                                ? "[" + options.address.toString().toStdString() + "]"
                                : options.address.toString().toStdString());
    zev::Journal journal(options.state, options.journalBytes);
    if (!journal.open(error)) {
        std::fprintf(stderr, "zev720d: the journal: %s\n", error.c_str());
        return 1;
    }
    if (journal.dropped())
        std::printf("journal: %d lines that were cut off or damaged were left out\n",
                    journal.dropped());
    zev::Presets presets(options.state + "/presets");
    for (const std::string &problem : presets.problems())
        std::printf("presets: %s (not recalled until it is stored again)\n", problem.c_str());
    zev::ClientAddresses addresses;
    addresses.trustProxies(options.trustedProxies);
    zev::EventBounds eventBounds;
    eventBounds.total = bounds.total / 2;
    eventBounds.perAddress = std::max(1, bounds.perAddress - 8);
    zev::Events events(addresses, eventBounds);
    zev::VenueService service(venue, journal, presets, deskRegisters);
    service.keepModeMemories(options.state + "/modes");
    service.keepKnownSettings(options.state + "/known");
    service.keepLostSettings(options.state + "/snapshots/lost", options.restoreAuto
                                                                    ? zev::VenueService::RestoreMode::Auto
                                                                    : zev::VenueService::RestoreMode::Ask);
    if (!service.loadLimits(options.state + "/limits.json", error)) {
        std::fprintf(stderr, "zev720d: the limits: %s\n", error.c_str());
        return 1;
    }
    if (!service.limits().limits.empty())
        std::printf("limits: %zu\n", service.limits().limits.size());
    zev::Scheduler scheduler(service);
    if (!scheduler.load(options.state, error)) {
        std::fprintf(stderr, "zev720d: the schedule: %s\n", error.c_str());
        return 1;
    }
    if (!scheduler.entries().empty())
        std::printf("schedule: %zu entries\n", scheduler.entries().size());
    std::unique_ptr<zev::Notifier> notifier;
    if (!options.notifyUrl.empty())
        notifier = std::make_unique<zev::Notifier>(service, QUrl(QString::fromStdString(options.notifyUrl)),
                                                   options.notifyAfterSeconds);
    zev::Api handler(service, access, events, journal, addresses, api);
    handler.showSchedule(&scheduler);
    zev::Snapshots snapshots(service, options.state + "/snapshots", options.snapshotMinute, options.snapshotDays);
    handler.showSnapshots(&snapshots);
    for (std::size_t i = 0; i < venue.rooms().size(); ++i) {
        zev::HeldRoom &room = venue.rooms()[i];
        if (!frameListeners[i]) continue;
        // What a frame port's client writes goes through the service, as every change does.
        frameListeners[i]->setWriter(
            [&service, &room](std::uint8_t address, std::uint8_t value, const std::string &who) {
                service.writeAsGiven(room, address, value, who);
            });
        handler.showFramePort(room, frameListeners[i].get());
    }
    zev::HttpServer http([&handler](const auto &exchange) { handler.handle(exchange); },
                         [&handler](const zev::HttpRequest &request, QTcpSocket *socket) {
                             return handler.upgrade(request, socket);
                         },
                         addresses, bounds);
    if (tls && !http.useTls(options.certificate, options.key, error)) {
        std::fprintf(stderr, "zev720d: TLS: %s\n", error.c_str());
        return 2;
    }
    if (!http.listen(options.address, options.port, error)) {
        std::fprintf(stderr, "zev720d: the API: %s\n", error.c_str());
        return 1;
    }
    handler.setListener(&http);
    const zev::WebFiles web(options.web.empty() ? zev::WebFiles::defaultFolder() : options.web);
    if (web.present())
        handler.servePages(&web);
    else
        std::printf("pages: none in %s\n", options.web.empty()
                                               ? zev::WebFiles::defaultFolder().c_str()
                                               : options.web.c_str());
    const QString shown = options.address.protocol() == QAbstractSocket::IPv6Protocol
                              ? "[" + options.address.toString() + "]"
                              : options.address.toString();
    std::printf("API: %s://%s:%u/api/v1/\n", tls ? "https" : "http", shown.toUtf8().constData(),
                http.port());
    if (access.userCount() == 0)
        std::printf("API: no users yet (zev720d user add NAME --role technician --state %s)\n",
                    options.state.c_str());
    std::fflush(stdout);
    venue.start();

    // The end: every processor released, then out.
    zev::onEndSignal([&venue, &service] {
        service.saveKnown();
        venue.stop([] { QCoreApplication::quit(); });
    });
    return QCoreApplication::exec();
}
