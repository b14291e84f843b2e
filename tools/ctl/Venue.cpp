// zev720ctl venue FILE probe|pull DIR/|push FILE.dat|diff FILE.dat|lock: every room of a
// venue in parallel on the room engine, a line a room and a summary.
#include "Ctl.h"

#include "files/ParameterFile.h"
#include "files/VenueFile.h"
#include "room/Difference.h"
#include "room/VenueCheck.h"
#include "wire/PortMap.h"
#include "model/Shown.h"
#include "room/RoomQueue.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace ctl {
namespace {

struct Room {
    zev::VenueRoom entry;
    QString result = "waiting"; ///< what the line shows while it runs
    int done = 0, total = 0;
    QStringList differing;
    QJsonArray differingJson;
    QString detail;
    bool over = false;
};

std::vector<zev::VenueRoom> readVenue(const QString &path)
{
    // Bounded and never waited on: a venue file is small, whatever stands under its name.
    const std::string text = readText(path, zev::kMaxVenueFileBytes);
    std::string error;
    std::vector<zev::VenueRoom> rooms;
    if (!zev::parseVenueFile(text, path.toStdString(), rooms, error) ||
        !zev::checkVenueRooms(rooms, path.toStdString(), error))
        throw Failure(kFileFailed, printable(QString::fromStdString(error)));
    return rooms;
}

/// A terminal's lines of the rooms are drawn again at most this often.
constexpr int kRedrawMs = 100;

class Venue {
public:
    Venue(const QStringList &positional, const zev::LineOptions &options, int jobs, bool json,
          bool noVerify, bool raw);
    int run();

private:
    void finished(std::size_t index);
    QString roomLine(const Room &room, const zev::RoomJob &job) const;
    void redraw();
    void draw();

    QString m_operation, m_argument;
    QTimer m_redraw;
    bool m_json = false, m_terminal = false;
    zev::ParameterModel m_wanted;
    std::vector<Room> m_rooms;
    std::unique_ptr<zev::RoomQueue> m_queue;
    int m_drawn = 0;
};

Venue::Venue(const QStringList &positional, const zev::LineOptions &options, int jobs, bool json,
             bool noVerify, bool raw)
    : m_operation(positional[2]), m_argument(positional.value(3)), m_json(json),
      m_terminal(::isatty(STDOUT_FILENO) == 1)
{
    for (const zev::VenueRoom &entry : readVenue(positional[1]))
        m_rooms.push_back(Room{entry, "waiting", 0, 0, {}, {}, {}, false});
    if (m_operation == "push" || m_operation == "diff") readParameters(m_argument, m_wanted);
    if (m_operation == "push") checkPushable(m_argument, m_wanted, raw);
    if (m_operation == "pull") {
        // A backup never lands on a file this run or the panel reads: the venue file, the
        // ports file, the panel's settings and default file.
        for (const Room &room : m_rooms) {
            const QString out = QDir(m_argument).filePath(QString::fromStdString(room.entry.name) + ".dat");
            for (const QString &input : {positional[1], QString(zev::kPortsFile), QString(zev::kPortSettingsFile),
                                         QString(zev::kDefaultParameterFile)}) {
                std::error_code same;
                if (std::filesystem::equivalent(out.toStdString(), input.toStdString(), same))
                    throw Failure(kUsage, printable(out) + ": room " +
                                              printable(QString::fromStdString(room.entry.name)) +
                                              " would be written over " + printable(input) +
                                              ", which this run or the panel reads; pull into "
                                              "another folder");
            }
        }
        if (!QDir().mkpath(m_argument)) throw Failure(kFileFailed, m_argument + ": cannot make the folder");
    }
    const zev::Operation operation = m_operation == "probe"  ? zev::Operation::Probe
                                     : m_operation == "pull" ? zev::Operation::Pull
                                     : m_operation == "push" ? zev::Operation::Push
                                     : m_operation == "diff" ? zev::Operation::Diff
                                                             : zev::Operation::Lock;
    std::vector<zev::RoomTask> tasks;
    for (const Room &room : m_rooms) {
        zev::RoomTask task;
        task.line = room.entry.line;
        task.options = options;
        task.operation = operation;
        task.wanted = m_wanted.image;
        task.verify = !noVerify;
        task.raw = raw;
        tasks.push_back(task);
    }
    m_queue = std::make_unique<zev::RoomQueue>(std::move(tasks), jobs);
}

QString Venue::roomLine(const Room &room, const zev::RoomJob &job) const
{
    const QString head = printable(QString::fromStdString(room.entry.name)) + "  " +
                         printable(QString::fromStdString(room.entry.line));
    if (!room.over) {
        if (job.phase() == zev::RoomJob::Phase::Waiting) return head + "  waiting";
        return QString("%1  %2 %3/%4").arg(head, room.result).arg(room.done).arg(room.total);
    }
    QString line =
        QString("%1  %2  %3 s").arg(head, room.result).arg(job.report().seconds, 0, 'f', 1);
    if (!room.detail.isEmpty()) line += "  " + printable(room.detail);
    if (!room.differing.isEmpty()) line += "  " + room.differing.join("; ");
    return line;
}

// A room's job is over: its result, the file of a pull, what differs.
void Venue::finished(std::size_t index)
{
    Room &room = m_rooms[index];
    const zev::RoomJob &job = m_queue->job(index);
    const zev::RoomReport &report = job.report();
    room.over = true;
    room.result = zev::outcomeName(report.outcome);
    if (zev::isFailure(report.outcome)) {
        // The result is said once: "the device went away", "stopped answering  no reply to ..."
        QString text = outcomeText(report, QString::fromStdString(room.entry.line));
        if (text.startsWith(room.result + ": ")) text = text.mid(room.result.size() + 2);
        if (text != room.result) room.detail = text;
    }
    if (report.outcome == zev::Outcome::Ok && m_operation == "pull") {
        zev::ParameterModel model;
        std::string error;
        const QString path =
            QDir(m_argument).filePath(QString::fromStdString(room.entry.name) + ".dat");
        if (!zev::modelForPull({}, report.held, model, error)) {
            room.result = "file error";
            room.detail = inEnglish(QString::fromStdString(error));
        } else {
            try {
                writeParameters(path, model);
            } catch (const Failure &failure) {
                room.result = "file error";
                room.detail = QString::fromUtf8(failure.what());
            }
        }
    }
    for (std::uint8_t address : report.differing)
        room.differing << zev::differenceText(address, m_wanted.image[address],
                                              report.held[address], printable(m_argument),
                                              zev::processorSide(outputLanguage()),
                                              outputLanguage());
    room.differingJson = zev::differencesJson(report.differing, m_wanted.image, report.held);
    if (!m_terminal && !m_json) print(roomLine(room, job));
    redraw();
}

// On a terminal: one line a room, rewritten in place, at most every kRedrawMs: a room's
// progress costs a flag, not a screen.
void Venue::redraw()
{
    if (!m_terminal || m_json) return;
    if (!m_redraw.isActive()) m_redraw.start();
}

void Venue::draw()
{
    QByteArray text;
    if (m_drawn) text += QString("\033[%1A").arg(m_drawn).toLatin1();
    for (std::size_t i = 0; i < m_rooms.size(); ++i)
        text += "\r\033[K" + roomLine(m_rooms[i], m_queue->job(i)).toUtf8() + "\n";
    m_drawn = int(m_rooms.size());
    printRaw(text);
}

int Venue::run()
{
    QEventLoop loop;
    QObject::connect(m_queue.get(), &zev::RoomQueue::progress, m_queue.get(),
                     [this](std::size_t i) {
                         const zev::RoomJob &job = m_queue->job(i);
                         m_rooms[i].result = phaseText(job.phase());
                         redraw();
                     });
    QObject::connect(m_queue.get(), &zev::RoomQueue::finished, m_queue.get(),
                     [this](std::size_t i) { finished(i); });
    QObject::connect(m_queue.get(), &zev::RoomQueue::allOver, &loop, &QEventLoop::quit);
    for (std::size_t i = 0; i < m_rooms.size(); ++i)
        QObject::connect(&m_queue->job(i), &zev::RoomJob::progress, m_queue.get(),
                         [this, i](zev::RoomJob::Phase, int done, int total) {
                             m_rooms[i].done = done;
                             m_rooms[i].total = total;
                         });
    // A signal or a closed standard output ends the running rooms' transfers; each then
    // releases its processor, and the rooms not started stay so.
    watchForEnd([this] { m_queue->interrupt(); });
    m_redraw.setSingleShot(true);
    m_redraw.setInterval(kRedrawMs);
    QObject::connect(&m_redraw, &QTimer::timeout, [this] { draw(); });
    m_queue->start();
    redraw();
    loop.exec();
    watchForEnd({});
    if (m_terminal && !m_json) draw(); // every room as it ended

    int ok = 0, differs = 0, failed = 0, interrupted = 0, notStarted = 0;
    QJsonArray rooms;
    for (std::size_t i = 0; i < m_rooms.size(); ++i) {
        const Room &room = m_rooms[i];
        const zev::RoomReport &report = m_queue->job(i).report();
        const bool fileError = room.result == "file error";
        if (fileError || zev::isFailure(report.outcome))
            ++failed;
        else if (report.outcome == zev::Outcome::Ok)
            ++ok;
        else if (report.outcome == zev::Outcome::Differs)
            ++differs;
        else if (report.outcome == zev::Outcome::Interrupted)
            ++interrupted;
        else
            ++notStarted;
        rooms.append(QJsonObject{{"room", QString::fromStdString(room.entry.name)},
                                 {"line", QString::fromStdString(room.entry.line)},
                                 {"result", fileError ? QString("file error")
                                                      : QString(zev::outcomeName(report.outcome))},
                                 {"detail", room.detail},
                                 {"seconds", report.seconds},
                                 {"differing", room.differingJson}});
    }
    QString summary = QString("%1 rooms: %2 ok, %3 differ, %4 failed")
                          .arg(m_rooms.size())
                          .arg(ok)
                          .arg(differs)
                          .arg(failed);
    if (interrupted) summary += QString(", %1 interrupted").arg(interrupted);
    if (notStarted) summary += QString(", %1 not started").arg(notStarted);
    if (m_queue->openFileLimit() > 0)
        summary += QString(" (%1 rooms at a time: the limit on open files is %2)")
                       .arg(m_queue->concurrency())
                       .arg(m_queue->openFileLimit());
    if (m_json) {
        printRaw(QJsonDocument(QJsonObject{{"command", "venue"},
                                           {"version", zev::kResultVersion},
                                           {"operation", m_operation},
                                           {"a", m_argument},
                                           {"rooms", rooms},
                                           {"ok", ok},
                                           {"differs", differs},
                                           {"failed", failed},
                                           {"interrupted", interrupted},
                                           {"notStarted", notStarted},
                                           {"atOnce", m_queue->concurrency()}})
                     .toJson(QJsonDocument::Indented));
    } else {
        print(summary);
    }
    if (m_queue->interrupted()) return kInterrupted;
    return failed ? kLinkFailed : differs ? kDifferent : kOk;
}

} // namespace

int runVenue(const QStringList &positional, const zev::LineOptions &options, int jobs, bool json,
             bool noVerify, bool raw)
{
    static const QStringList kOperations = {"probe", "pull", "push", "diff", "lock"};
    if (positional.size() < 3 || !kOperations.contains(positional[2]) ||
        positional.size() != (positional[2] == "probe" || positional[2] == "lock" ? 3 : 4))
        throw Failure(kUsage, "usage: zev720ctl venue FILE probe|pull DIR/|push FILE.dat|diff "
                              "FILE.dat|lock [--jobs N] [--json]");
    Venue venue(positional, options, jobs, json, noVerify, raw);
    return venue.run();
}

} // namespace ctl
