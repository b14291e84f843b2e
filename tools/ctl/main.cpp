// zev720ctl: the ZEV720 processor from a terminal or a script. Copies a setting to other
// rooms with verification, backs rooms up, shows what changed. See `zev720ctl --help`.
#include "Ctl.h"
#include "Json.h"

#include "files/ParameterFile.h"
#include "model/Shown.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <map>
#include <set>

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
    LineOptions line;
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
            a.line.parity = value();
        else if (word == "--flow")
            a.line.flow = value();
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

void print(const QString &line)
{
    std::puts(line.toLocal8Bit().constData());
}

void printJson(const QJsonObject &object)
{
    std::fputs(QJsonDocument(object).toJson(QJsonDocument::Indented).constData(), stdout);
}

QString shown(const zev::RegisterRow &row, std::uint8_t value)
{
    return QString::fromStdString(zev::shownValue(row, value));
}

QString nameOf(const zev::RegisterRow &row)
{
    return QString::fromStdString(zev::displayName(row));
}

// The model a pull writes: mode slots from FROM.dat, else from the default file here, else
// the factory presets; the transfer set from the processor.
zev::ParameterModel slotsForPull(const QString &from)
{
    zev::ParameterModel model;
    model.image[44] = model.image[zev::kDspModeRegister] = 1;
    model.loadFactoryValues();
    if (!from.isEmpty()) {
        readParameters(from, model);
    } else if (QFile::exists(zev::kDefaultParameterFile)) {
        readParameters(zev::kDefaultParameterFile, model);
    }
    return model;
}

int pull(const Arguments &a)
{
    expect(a, 2, "pull PORT OUT.dat [--slots FROM.dat]");
    zev::ParameterModel model = slotsForPull(a.slotFile);
    double seconds = 0; // from the first frame to the last reply, handshakes aside
    {
        Processor processor(a.positional[1], a.line);
        QElapsedTimer transfer;
        transfer.start();
        processor.readBack(model.image, "pull");
        seconds = double(transfer.nsecsElapsed()) * 1e-9;
    }
    writeParameters(a.positional[2], model);
    if (a.json)
        printJson({{"command", "pull"},
                   {"port", a.positional[1]},
                   {"file", a.positional[2]},
                   {"registers", zev::kTransferSetSize},
                   {"transferSeconds", seconds}});
    else
        print(QString("%1: %2 registers read into %3")
                  .arg(a.positional[1])
                  .arg(zev::kTransferSetSize)
                  .arg(a.positional[2]));
    return kOk;
}

int push(const Arguments &a)
{
    expect(a, 2, "push PORT IN.dat [--no-verify]");
    zev::ParameterModel wanted;
    readParameters(a.positional[2], wanted);
    Processor processor(a.positional[1], a.line);
    zev::LinkSession &session = processor.session();
    auto write = [&](const std::vector<zev::TransferItem> &items, const QString &what) {
        Progress progress(what, int(items.size()));
        const auto results = session.runTransfer(items, [&](int done) { progress.show(done); });
        if (interrupted()) throw Failure(kInterrupted, a.positional[1] + ": interrupted");
        return results;
    };
    QElapsedTimer transfer; // from the first frame to the last reply, handshakes aside
    transfer.start();
    std::vector<zev::TransferItem> items = zev::transferSet(wanted.image, false);
    auto results = write(items, "push");
    std::set<int> unanswered;
    for (const auto &result : results)
        if (!result.answered) unanswered.insert(result.address);

    zev::RegisterImage held = wanted.image;
    QJsonArray differing;
    QStringList report;
    int rounds = 0;
    if (!a.noVerify) {
        // Read everything back; resend what differs, then look again, a few rounds at most.
        constexpr int kRounds = 3;
        for (; rounds < kRounds; ++rounds) {
            processor.readBack(held, "verify");
            items.clear();
            for (const zev::RegisterRow &row : zev::registerMap())
                if (held[row.address] != wanted.image[row.address])
                    items.push_back({row.address, wanted.image[row.address], false});
            if (items.empty()) break;
            write(items, "resend");
        }
        for (const zev::RegisterRow &row : zev::registerMap()) {
            const std::uint8_t want = wanted.image[row.address];
            const std::uint8_t is = held[row.address];
            if (want == is) continue;
            report
                << QString("%1: %2, 机器: %3").arg(nameOf(row), shown(row, want), shown(row, is));
            differing.append(QJsonObject{{"address", row.address},
                                         {"name", QString::fromStdString(zev::machineName(row))},
                                         {"caption", nameOf(row)},
                                         {"file", want},
                                         {"fileShown", shown(row, want)},
                                         {"processor", is},
                                         {"processorShown", shown(row, is)}});
        }
    }
    const double seconds = double(transfer.nsecsElapsed()) * 1e-9;
    QJsonArray silent;
    for (int address : unanswered)
        silent.append(address);
    const int code = !differing.isEmpty()                  ? kDifferent
                     : (a.noVerify && !unanswered.empty()) ? kLinkFailed
                                                           : kOk;
    if (a.json) {
        printJson({{"command", "push"},
                   {"port", a.positional[1]},
                   {"file", a.positional[2]},
                   {"verified", !a.noVerify},
                   {"unanswered", silent},
                   {"differing", differing},
                   {"ok", code == kOk},
                   {"transferSeconds", seconds}});
    } else {
        for (const QString &line : report)
            print(line);
        if (a.noVerify && !unanswered.empty())
            complain(QString("%1: %2 register(s) not confirmed")
                         .arg(a.positional[1])
                         .arg(unanswered.size()));
        else if (code == kOk)
            print(QString("%1: %2 registers written%3")
                      .arg(a.positional[1])
                      .arg(zev::kTransferSetSize)
                      .arg(a.noVerify ? "" : " and verified"));
    }
    return code;
}

// A side of a diff: a parameter file, or the processor behind a port.
zev::ParameterModel sideOf(const QString &what, const LineOptions &line, bool &isFile)
{
    zev::ParameterModel model;
    isFile = !looksLikePort(what);
    if (isFile) {
        readParameters(what, model);
    } else {
        Processor processor(what, line);
        processor.readBack(model.image, "read " + what);
    }
    return model;
}

int diff(const Arguments &a)
{
    expect(a, 2, "diff A B");
    bool fileA = false, fileB = false;
    const zev::ParameterModel left = sideOf(a.positional[1], a.line, fileA);
    const zev::ParameterModel right = sideOf(a.positional[2], a.line, fileB);
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
    if (fileA && fileB) {
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
        std::fputs(parametersToJson(model).constData(), stdout);
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
    Processor processor(a.positional[1], a.line);
    const bool locked = processor.session().lockProcessor();
    if (interrupted()) throw Failure(kInterrupted, a.positional[1] + ": interrupted");
    if (!locked)
        throw Failure(kLinkFailed, a.positional[1] + ": the processor did not confirm the lock");
    print(a.positional[1] + ": locked");
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
        const int code = run(app.arguments().mid(1));
        return interrupted() ? kInterrupted : code;
    } catch (const Failure &failure) {
        complain(QString::fromUtf8(failure.what()));
        return failure.exitCode;
    }
}
