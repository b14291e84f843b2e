// zev720ctl: the ZEV720 processor from a terminal or a script. Copies a setting to other
// rooms with verification, backs rooms up, shows what changed. See `zev720ctl --help`.
#include "Ctl.h"
#include "Json.h"

#include "files/ParameterFile.h"
#include "model/Shown.h"
#include "wire/PortMap.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

using namespace ctl;

namespace {

constexpr const char *kHelpText = R"(Usage: zev720ctl COMMAND [ARGUMENTS] [OPTIONS]

Commands:
  ports [--probe]                 port numbers and serial devices; --probe tries each
  pull PORT OUT.dat [--slots FROM.dat]
                                  read the processor's settings into a parameter file
  push PORT IN.dat [--no-verify]  write a parameter file's settings, read them back, resend
                                  what differs and report what still differs
  diff A B                        compare two parameter files or ports (exit 1 if different)
  show FILE.dat [--json]          a parameter file decoded
  build FILE.json OUT.dat         the JSON of 'show --json' back into a parameter file
  lock PORT                       lock the processor's data
  venue FILE probe|pull DIR/|push FILE.dat|diff FILE.dat|lock [--jobs N]
                                  the same on every room of a venue file ("ROOM, LINE" a
                                  line), the rooms in parallel; one line a room and a summary

PORT is a port number as in the panel (ZEV720_COM<n>, ZEV720.ports, then /dev/ttyUSB<n-1>,
...), a device path, or a network line: tcp://HOST:PORT or rfc2217://HOST:PORT. Line settings come from ZEV720.cfg in the current folder, else 9600 8N1:
  --baud RATE  --data 5|6|7|8  --parity none|even|odd|mark|space  --stop 1|2
  --flow none|hardware|software
Other options: --json (results as JSON: ports, pull, push, diff, show), --help, --version.

Exit codes: 0 done (diff: equal), 1 a difference (diff; push: registers still differ),
2 usage, 3 link failure (port, no answer, transfer), 4 file error, 5 interrupted.
)";

struct Arguments {
    QStringList positional;
    zev::LineOptions line;
    QString slotFile;
    bool json = false, probe = false, noVerify = false;
    int jobs = 0; ///< venue: rooms at once, 0 all
};

Arguments parseArguments(const QStringList &words)
{
    Arguments a;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString &word = words[i];
        auto value = [&]() -> QString {
            if (i + 1 >= words.size()) throw Failure(kUsage, word + ": needs a value");
            return words[++i];
        };
        auto number = [&]() {
            bool ok = false;
            const QString text = value();
            const int n = text.toInt(&ok);
            if (!ok) throw Failure(kUsage, word + " " + text + ": not a number");
            return n;
        };
        if (word == "--json")
            a.json = true;
        else if (word == "--probe")
            a.probe = true;
        else if (word == "--no-verify")
            a.noVerify = true;
        else if (word == "--jobs")
            a.jobs = number();
        else if (word == "--slots")
            a.slotFile = value();
        else if (word == "--baud")
            a.line.baud = number();
        else if (word == "--data")
            a.line.dataBits = number();
        else if (word == "--stop")
            a.line.stopBits = number();
        else if (word == "--parity")
            a.line.parity = value().toStdString();
        else if (word == "--flow")
            a.line.flow = value().toStdString();
        else if (word.startsWith("--"))
            throw Failure(kUsage, word + ": unknown option");
        else
            a.positional << word;
    }
    return a;
}

void expect(const Arguments &a, int count, const char *usage)
{
    if (a.positional.size() != count + 1)
        throw Failure(kUsage, QString("usage: zev720ctl %1").arg(usage));
}

void printJson(const QJsonObject &object)
{
    printRaw(QJsonDocument(object).toJson(QJsonDocument::Indented));
}

QString shown(const zev::RegisterRow &row, std::uint8_t value)
{
    return QString::fromStdString(zev::shownValue(row, value));
}

QString nameOf(const zev::RegisterRow &row)
{
    return QString::fromStdString(zev::displayName(row));
}

// Problems of ZEV720.ports, once a command.
void reportPortsFile()
{
    for (const std::string &problem : zev::readPortsFile().problems)
        complain(QString::fromStdString(problem));
}

// One room's job with a progress bar on a terminal; a job that did not end well is a Failure
// naming the port as typed. `acceptable` outcomes besides Ok are returned to the caller.
const zev::RoomReport &runOne(zev::RoomJob &job, const QString &port, const QString &what,
                              std::initializer_list<zev::Outcome> acceptable = {})
{
    Progress progress(what, zev::kTransferSetSize);
    QObject::connect(&job, &zev::RoomJob::progress,
                     [&](zev::RoomJob::Phase, int done, int) { progress.show(done); });
    runJobs({&job});
    const zev::RoomReport &report = job.report();
    if (report.outcome == zev::Outcome::Ok ||
        std::find(acceptable.begin(), acceptable.end(), report.outcome) != acceptable.end())
        return report;
    throw Failure(exitCodeOf(report.outcome), port + ": " + outcomeText(report));
}

zev::RoomTask taskFor(const QString &port, const Arguments &a, zev::Operation operation)
{
    zev::RoomTask task;
    task.line = port.toStdString();
    task.options = a.line;
    task.operation = operation;
    task.verify = !a.noVerify;
    return task;
}

int pull(const Arguments &a)
{
    expect(a, 2, "pull PORT OUT.dat [--slots FROM.dat]");
    reportPortsFile();
    const QString &port = a.positional[1], &out = a.positional[2];
    zev::ParameterModel check; // the slots' file is read before the processor is
    std::string error;
    if (!zev::modelForPull(a.slotFile.toStdString(), {}, check, error))
        throw Failure(kFileFailed, QString::fromStdString(error));
    zev::RoomJob job(taskFor(port, a, zev::Operation::Pull));
    const zev::RoomReport &report = runOne(job, port, "pull");
    zev::ParameterModel model;
    if (!zev::modelForPull(a.slotFile.toStdString(), report.held, model, error))
        throw Failure(kFileFailed, QString::fromStdString(error));
    writeParameters(out, model);
    if (a.json)
        printJson({{"command", "pull"},
                   {"port", port},
                   {"file", out},
                   {"registers", zev::kTransferSetSize},
                   {"transferSeconds", report.transferSeconds}});
    else
        print(
            QString("%1: %2 registers read into %3").arg(port).arg(zev::kTransferSetSize).arg(out));
    return kOk;
}

int push(const Arguments &a)
{
    expect(a, 2, "push PORT IN.dat [--no-verify]");
    reportPortsFile();
    const QString &port = a.positional[1], &in = a.positional[2];
    zev::ParameterModel wanted;
    readParameters(in, wanted);
    zev::RoomTask task = taskFor(port, a, zev::Operation::Push);
    task.wanted = wanted.image;
    zev::RoomJob job(task);
    const zev::RoomReport &report =
        runOne(job, port, "push", {zev::Outcome::Differs, zev::Outcome::Unanswered});
    QJsonArray differing, silent;
    QStringList lines;
    for (std::uint8_t address : report.differing) {
        const zev::RegisterRow &row = *zev::findRegister(address);
        const std::uint8_t want = wanted.image[address], is = report.held[address];
        lines << QString("%1: %2, 机器: %3").arg(nameOf(row), shown(row, want), shown(row, is));
        differing.append(QJsonObject{{"address", address},
                                     {"name", QString::fromStdString(zev::machineName(row))},
                                     {"caption", nameOf(row)},
                                     {"file", want},
                                     {"fileShown", shown(row, want)},
                                     {"processor", is},
                                     {"processorShown", shown(row, is)}});
    }
    for (std::uint8_t address : report.unanswered)
        silent.append(address);
    const int code = exitCodeOf(report.outcome);
    if (a.json) {
        printJson({{"command", "push"},
                   {"port", port},
                   {"file", in},
                   {"verified", !a.noVerify},
                   {"unanswered", silent},
                   {"differing", differing},
                   {"ok", code == kOk},
                   {"transferSeconds", report.transferSeconds}});
    } else {
        for (const QString &line : lines)
            print(line);
        if (report.outcome == zev::Outcome::Unanswered)
            complain(port + ": " + outcomeText(report));
        else if (code == kOk)
            print(QString("%1: %2 registers written%3")
                      .arg(port)
                      .arg(zev::kTransferSetSize)
                      .arg(a.noVerify ? "" : " and verified"));
    }
    return code;
}

int diff(const Arguments &a)
{
    expect(a, 2, "diff A B");
    // Each side a parameter file or the processor behind a port; ports are read at once.
    zev::ParameterModel sides[2];
    bool isFile[2] = {false, false};
    std::vector<std::unique_ptr<zev::RoomJob>> jobs;
    std::vector<zev::RoomJob *> running;
    int jobOf[2] = {-1, -1};
    for (int side = 0; side < 2; ++side) {
        const QString &what = a.positional[side + 1];
        isFile[side] = !zev::looksLikePort(what.toStdString());
        if (isFile[side]) {
            readParameters(what, sides[side]);
        } else {
            if (jobs.empty()) reportPortsFile();
            jobOf[side] = int(jobs.size());
            jobs.push_back(std::make_unique<zev::RoomJob>(taskFor(what, a, zev::Operation::Pull)));
            running.push_back(jobs.back().get());
        }
    }
    if (!running.empty()) {
        if (running.size() == 1)
            runOne(*running.front(), a.positional[jobOf[0] >= 0 ? 1 : 2], "read");
        else
            runJobs(running);
        for (int side = 0; side < 2; ++side) {
            if (jobOf[side] < 0) continue;
            const zev::RoomReport &report = jobs[std::size_t(jobOf[side])]->report();
            if (report.outcome != zev::Outcome::Ok)
                throw Failure(exitCodeOf(report.outcome),
                              a.positional[side + 1] + ": " + outcomeText(report));
            sides[side].image = report.held;
        }
    }
    const zev::ParameterModel &left = sides[0], &right = sides[1];
    QJsonArray registers, slotDiffs;
    for (const zev::RegisterRow &row : zev::registerMap()) {
        const std::uint8_t l = left.image[row.address], r = right.image[row.address];
        if (l == r) continue;
        const zev::Placement where = zev::placementOf(row.address);
        registers.append(QJsonObject{{"address", row.address},
                                     {"name", QString::fromStdString(zev::machineName(row))},
                                     {"page", QString::fromUtf8(where.page)},
                                     {"caption", nameOf(row)},
                                     {"a", l},
                                     {"aShown", shown(row, l)},
                                     {"b", r},
                                     {"bShown", shown(row, r)}});
        if (!a.json)
            print(QString("%1 / %2 (%3): %4 | %5")
                      .arg(QString::fromUtf8(where.page), nameOf(row))
                      .arg(row.address)
                      .arg(shown(row, l), shown(row, r)));
    }
    if (isFile[0] && isFile[1]) {
        for (int slot = 0; slot < zev::kSlotCount; ++slot) {
            QJsonArray addresses;
            for (int addr = 0; addr < 256; ++addr)
                if (left.modeSlots[slot][addr] != right.modeSlots[slot][addr])
                    addresses.append(addr);
            if (addresses.isEmpty()) continue;
            slotDiffs.append(QJsonObject{{"slot", slot}, {"addresses", addresses}});
            if (!a.json) {
                QStringList list;
                for (const QJsonValue &v : addresses)
                    list << QString::number(v.toInt());
                print(QString("mode slot %1: bytes %2 differ").arg(slot).arg(list.join(", ")));
            }
        }
    }
    const bool equal = registers.isEmpty() && slotDiffs.isEmpty();
    if (a.json)
        printJson({{"command", "diff"},
                   {"a", a.positional[1]},
                   {"b", a.positional[2]},
                   {"equal", equal},
                   {"registers", registers},
                   {"slots", slotDiffs}});
    return equal ? kOk : kDifferent;
}

int show(const Arguments &a)
{
    expect(a, 1, "show FILE.dat [--json]");
    zev::ParameterModel model;
    readParameters(a.positional[1], model);
    if (a.json) {
        printRaw(parametersToJson(model));
        return kOk;
    }
    for (const zev::RegisterRow &row : zev::registerMap()) {
        const zev::Placement where = zev::placementOf(row.address);
        print(QString("%1  %2  %3  %4  %5")
                  .arg(QString::fromUtf8(where.page),
                       QString::fromUtf8(*where.group ? where.group : "-"),
                       QString::fromUtf8(row.caption).replace('\n', ' '))
                  .arg(model.image[row.address], 3)
                  .arg(shown(row, model.image[row.address])));
    }
    for (int slot = 0; slot < zev::kSlotCount; ++slot) {
        QStringList held;
        for (const zev::RegisterRow &row : zev::registerMap()) {
            const std::uint8_t value = model.modeSlots[slot][row.address];
            if (value != 0) held << QString("%1=%2").arg(nameOf(row), shown(row, value));
        }
        print(QString("slot %1: %2").arg(slot).arg(held.isEmpty() ? "(empty)" : held.join(", ")));
    }
    return kOk;
}

int build(const Arguments &a)
{
    expect(a, 2, "build FILE.json OUT.dat");
    QFile file(a.positional[1]);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(kFileFailed, a.positional[1] + ": cannot read: " + file.errorString());
    const zev::ParameterModel model = parametersFromJson(file.readAll(), a.positional[1]);
    writeParameters(a.positional[2], model);
    return kOk;
}

int lock(const Arguments &a)
{
    expect(a, 1, "lock PORT");
    reportPortsFile();
    const QString &port = a.positional[1];
    zev::RoomJob job(taskFor(port, a, zev::Operation::Lock));
    runOne(job, port, "lock");
    print(port + ": locked");
    return kOk;
}

int run(const QStringList &words)
{
    if (words.isEmpty() || words.contains("--help") || words.first() == "help") {
        std::fputs(kHelpText, words.isEmpty() ? stderr : stdout);
        return words.isEmpty() ? kUsage : kOk;
    }
    if (words.contains("--version")) {
        print(QString("zev720ctl %1").arg(ZEV720_VERSION));
        return kOk;
    }
    const Arguments a = parseArguments(words);
    if (a.positional.isEmpty()) throw Failure(kUsage, "no command");
    const QString &command = a.positional.first();
    if (command == "ports") {
        expect(a, 0, "ports [--probe]");
        reportPortsFile();
        return listPorts(a.probe, a.line, a.json);
    }
    if (command == "venue") return runVenue(a.positional, a.line, a.jobs, a.json, a.noVerify);
    static const std::map<QString, int (*)(const Arguments &)> commands = {
        {"pull", pull}, {"push", push},   {"diff", diff},
        {"show", show}, {"build", build}, {"lock", lock}};
    const auto it = commands.find(command);
    if (it == commands.end()) throw Failure(kUsage, command + ": no such command (see --help)");
    return it->second(a);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    try {
        return run(app.arguments().mid(1));
    } catch (const Failure &failure) {
        complain(QString::fromUtf8(failure.what()));
        return failure.exitCode;
    }
}
