// zev720ctl: the ZEV720 processor from a terminal or a script. Copies a setting to other
// rooms with verification, backs rooms up, shows what changed. See `zev720ctl --help`.
#include "Ctl.h"
#include "StandardOutput.h"

#include "files/ParameterFile.h"
#include "files/ParameterJson.h"
#include "room/Difference.h"
#include "model/Shown.h"
#include "link/PortDevices.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

using namespace ctl;

namespace {

constexpr const char *kHelpText = R"(Usage: zev720ctl COMMAND [ARGUMENTS] [OPTIONS]

Commands:
  ports [--probe]                 port numbers and serial devices; --probe tries each
  pull PORT OUT.dat [--slots FROM.dat] [--raw]
                                  read the processor's settings into a parameter file
  push PORT IN.dat [--no-verify] [--raw]
                                  write a parameter file's settings, read them back, resend
                                  what differs and report what still differs
  diff A B                        compare two parameter files or ports (exit 1 if different)
  show FILE.dat [--json]          a parameter file decoded
  build FILE.json OUT.dat         the JSON of 'show --json' back into a parameter file
  lock PORT                       lock the processor's data
  venue FILE probe|pull DIR/|push FILE.dat|diff FILE.dat|lock [--jobs N]
                                  the same on every room of a venue file ("ROOM, LINE" a
                                  line), the rooms in parallel; one line a room and a summary
'zev720ctl COMMAND --help' tells more of each.

PORT is a port number as in the panel (ZEV720_COM<n>, ZEV720.ports, then the system's port:
COM<n> on Windows, /dev/ttyUSB<n-1>, ... on Linux), a device (on Windows COM5 or \\.\COM5,
in any case), or a network line: tcp://HOST:PORT or rfc2217://HOST:PORT.
)";

constexpr const char *kLineOptionsText = R"(
Line settings come from ZEV720.cfg in the current folder, else 9600 8N1:
  --baud RATE  --data 5|6|7|8  --parity none|even|odd|mark|space  --stop 1|2
  --flow none|hardware|software
)";

constexpr const char *kExitText = R"(
Exit codes: 0 done (diff: equal), 1 a difference (diff; push: registers still differ),
2 usage, 3 link failure (port, no answer, transfer), 4 file error, 5 interrupted.
)";

struct CommandHelp {
    const char *name;
    const char *usage;
    const char *text;
    bool line; ///< takes the line settings' options
};
constexpr CommandHelp kCommands[] = {
    {"ports", "ports [--probe] [--json]",
     "Port numbers 1 to 15 and every serial device the system lists, with the number that maps\n"
     "to each. --probe tries each with the connect and disconnect commands, all at once, and\n"
     "says why one does not answer.\n",
     true},
    {"pull", "pull PORT OUT.dat [--slots FROM.dat] [--raw] [--json]",
     "Reads the 56 registers into a 5,632-byte parameter file, written whole or not at all. The\n"
     "mode slots come from FROM.dat, else ZEV720Default.dat here, else the factory presets.\n"
     "OUT.dat may not be FROM.dat itself, nor a .json file. A register answered only with a\n"
     "value that no control shows is a wrong answer (an echo of the line, a unit that lies):\n"
     "no file is written; --raw takes such values as they are.\n",
     true},
    {"push", "push PORT IN.dat [--no-verify] [--raw] [--json]",
     "Writes the 56 registers, reads them all back, resends what differs (three rounds at most)\n"
     "and reports what still differs: \"音乐调整 音量: IN.dat 58dB, 机器 57dB\". A file with a\n"
     "value that no control shows is refused, naming it; --raw writes it as it is.\n",
     true},
    {"diff", "diff A B [--json]",
     "A and B each a parameter file or a port (read at the same time): every register that\n"
     "differs, with both shown values, each side named; differing mode slots of two files.\n",
     true},
    {"show", "show FILE.dat [--json]",
     "The file decoded: page, group, caption, raw and shown value of each register, and the 21\n"
     "mode slots. --json gives the text that build reads.\n",
     false},
    {"build", "build FILE.json OUT.dat [--json]",
     "The JSON of 'show --json' back into the same 5,632 bytes. A register's value and shown\n"
     "value must agree; anything unclear is refused with its line, and nothing is written.\n",
     false},
    {"lock", "lock PORT [--json]", "Locks the processor's data.\n", true},
    {"venue", "venue FILE probe|pull DIR/|push FILE.dat|diff FILE.dat|lock [--jobs N] [--json]",
     "The operation on every room of a venue file, a plain text or CSV table of \"ROOM, LINE\"\n"
     "rows, the rooms in parallel (--jobs N at most at once); one line a room and a summary.\n",
     true},
};

const CommandHelp *commandHelp(const QString &name)
{
    for (const CommandHelp &command : kCommands)
        if (name == command.name) return &command;
    return nullptr;
}

// The edit distance, to suggest the command meant by a typo.
int distance(const QString &a, const QString &b)
{
    std::vector<int> row(std::size_t(b.size()) + 1);
    for (std::size_t j = 0; j < row.size(); ++j)
        row[j] = int(j);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = int(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int above = row[std::size_t(j)];
            row[std::size_t(j)] =
                std::min({above + 1, row[std::size_t(j - 1)] + 1,
                          diagonal + (a[i - 1].toLower() == b[j - 1].toLower() ? 0 : 1)});
            diagonal = above;
        }
    }
    return row.back();
}

QString unknownCommand(const QString &word)
{
    QString best;
    int bestDistance = 3; // further than two edits is no typo
    for (const CommandHelp &command : kCommands) {
        const int d = distance(word, command.name);
        if (d < bestDistance) {
            bestDistance = d;
            best = command.name;
        }
    }
    return printable(word) + ": no such command" +
           (best.isEmpty() ? QString() : "; did you mean '" + best + "'?") +
           " (zev720ctl --help lists them)";
}

void printHelp(const QString &command)
{
    const CommandHelp *help = commandHelp(command);
    if (!help) {
        printRaw(kHelpText);
        printRaw(kLineOptionsText);
        printRaw("Other options: --json (results as JSON), --lang en|zh (register names and values in English\nor, as the panel, in Chinese; also ZEV720_LANG), --help, --version.\n");
        printRaw(kExitText);
        return;
    }
    // Through the output that writes a console in wide characters: the help holds Chinese.
    printRaw(QByteArray("Usage: zev720ctl ") + help->usage + "\n\n" + help->text);
    if (help->line) printRaw(kLineOptionsText);
    printRaw(kExitText);
}

struct Arguments {
    QStringList positional;
    zev::LineOptions line;
    QString slotFile;
    bool json = false, probe = false, noVerify = false, raw = false;
    int jobs = 0; ///< venue: rooms at once, 0 all
};

// The options: those that take a value, and the switches.
const QStringList kValueOptions = {"jobs", "slots", "baud", "data", "stop", "parity", "flow", "lang"};
const QStringList kSwitches = {"json", "probe", "no-verify", "raw"};

// Options followed by their value.
bool takesValue(const QString &word)
{
    return word.startsWith("--") && kValueOptions.contains(word.mid(2));
}

// The word an option was written as ("--frobnicate", "-x"), for what is told of it.
QString writtenAs(const QStringList &words, const QString &name)
{
    for (const QString &word : words)
        if (word == "--" + name || word == "-" + name || word.startsWith("--" + name + "="))
            return word;
    return "--" + name;
}

Arguments parseArguments(const QStringList &words)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const QString &name : kValueOptions) parser.addOption(QCommandLineOption(name, {}, "value"));
    for (const QString &name : kSwitches) parser.addOption(QCommandLineOption(name));
    const bool parsed = parser.parse(QStringList{"zev720ctl"} + words);
    // The language first, as what is told of the rest is told in it.
    for (const QString &text : parser.values("lang")) {
        zev::Language language;
        if (!zev::parseLanguage(text.toStdString(), language))
            throw Failure(kUsage, "--lang " + printable(text) + ": en or zh");
        setOutputLanguage(language);
    }
    if (!parsed) {
        if (!parser.unknownOptionNames().isEmpty())
            throw Failure(kUsage, printable(writtenAs(words, parser.unknownOptionNames().first())) +
                                      ": unknown option (zev720ctl --help lists them)");
        for (const QString &name : kValueOptions) // the one left without its value: the last word
            if (words.last() == "--" + name || words.last() == "-" + name)
                throw Failure(kUsage, words.last() + ": needs a value");
        throw Failure(kUsage, printable(parser.errorText()));
    }
    Arguments a;
    // Counts and line settings are 1 or more (0 and below stand for "not given" inside); every
    // value given is checked, the last one counts.
    auto number = [&](const char *name) {
        int n = 0;
        for (const QString &text : parser.values(name)) {
            bool ok = false;
            n = text.toInt(&ok);
            if (!ok) throw Failure(kUsage, QString("--%1 %2: not a number").arg(name, printable(text)));
            if (n < 1) throw Failure(kUsage, QString("--%1 %2: must be 1 or more").arg(name, text));
        }
        return n;
    };
    a.json = parser.isSet("json");
    a.probe = parser.isSet("probe");
    a.noVerify = parser.isSet("no-verify");
    a.raw = parser.isSet("raw");
    if (parser.isSet("jobs")) a.jobs = number("jobs");
    a.slotFile = parser.value("slots");
    if (parser.isSet("baud")) a.line.baud = number("baud");
    if (parser.isSet("data")) a.line.dataBits = number("data");
    if (parser.isSet("stop")) a.line.stopBits = number("stop");
    if (parser.isSet("parity")) a.line.parity = parser.value("parity").toStdString();
    if (parser.isSet("flow")) a.line.flow = parser.value("flow").toStdString();
    a.positional = parser.positionalArguments();
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

// Problems of ZEV720.ports, once a command.
void reportPortsFile()
{
    // In this program's language: the file layer words a file that is none as the panel does.
    for (const std::string &problem : zev::readPortsFile().problems)
        complain(printable(inEnglish(QString::fromStdString(problem))));
}

// A port as typed, and the device it stands for where that is something else: "1
// (/dev/ttyS0)", so that a forgotten ZEV720_COM1 shows.
QString portLabel(const QString &port, const std::string &device)
{
    const QString stands = QString::fromStdString(device);
    return stands.isEmpty() || stands == port ? printable(port)
                                              : printable(port) + " (" + printable(stands) + ")";
}

// One room's job with a progress bar on a terminal; a job that did not end well is a Failure
// naming the port. `acceptable` outcomes besides Ok are returned to the caller.
const zev::RoomReport &runOne(zev::RoomJob &job, const QString &port, const QString &what,
                              std::initializer_list<zev::Outcome> acceptable = {})
{
    Progress progress(what, zev::kTransferSetSize);
    // A push reads everything back after writing: its bar starts again as its own phase.
    QObject::connect(&job, &zev::RoomJob::progress,
                     [&](zev::RoomJob::Phase phase, int done, int total) {
                         if (total <= 0) return; // opening, connecting, releasing: no count
                         progress.show(done, total,
                                       phase == zev::RoomJob::Phase::Verifying ? phaseText(phase)
                                                                               : what);
                     });
    runJobs({&job});
    const zev::RoomReport &report = job.report();
    if (report.outcome == zev::Outcome::Ok ||
        std::find(acceptable.begin(), acceptable.end(), report.outcome) != acceptable.end())
        return report;
    throw Failure(exitCodeOf(report.outcome),
                  portLabel(port, report.device) + ": " + outcomeText(report, port));
}

zev::RoomTask taskFor(const QString &port, const Arguments &a, zev::Operation operation)
{
    zev::RoomTask task;
    task.line = port.toStdString();
    task.options = a.line;
    task.operation = operation;
    task.verify = !a.noVerify;
    task.raw = a.raw;
    return task;
}

// A parameter file is about to be written to `out`: refused when it is one of the inputs
// (through links too), or named as the JSON text, which it would replace with bytes.
void checkOutput(const QString &out, std::initializer_list<QString> inputs)
{
    if (out.endsWith(".json", Qt::CaseInsensitive))
        throw Failure(kUsage, printable(out) + ": a parameter file (.dat) is written here, not "
                                               "JSON text (that is what show --json writes)");
    for (const QString &input : inputs) {
        std::error_code error;
        if (!input.isEmpty() && std::filesystem::equivalent(out.toStdString(),
                                                            input.toStdString(), error))
            throw Failure(kUsage, printable(out) + ": is " + printable(input) +
                                      ", which this command reads; name another file");
    }
}

int pull(const Arguments &a)
{
    expect(a, 2, "pull PORT OUT.dat [--slots FROM.dat]");
    reportPortsFile();
    const QString &port = a.positional[1], &out = a.positional[2];
    checkOutput(out, {a.slotFile.isEmpty() ? QString(zev::kDefaultParameterFile) : a.slotFile});
    zev::ParameterModel check; // the slots' file is read before the processor is
    std::string error;
    if (!zev::modelForPull(a.slotFile.toStdString(), {}, check, error))
        throw Failure(kFileFailed, inEnglish(QString::fromStdString(error)));
    zev::RoomJob job(taskFor(port, a, zev::Operation::Pull));
    const zev::RoomReport &report = runOne(job, port, "pull");
    // The job is over and the processor released: from here the file is written whole, and
    // the command has finished when it is (a signal now changes nothing).
    zev::ParameterModel model;
    if (!zev::modelForPull(a.slotFile.toStdString(), report.held, model, error))
        throw Failure(kFileFailed, inEnglish(QString::fromStdString(error)));
    writeParameters(out, model);
    const QString label = portLabel(port, report.device);
    if (a.json)
        printJson({{"command", "pull"},
                   {"version", zev::kResultVersion},
                   {"port", port},
                   {"device", QString::fromStdString(report.device)},
                   {"file", out},
                   {"registers", zev::kTransferSetSize},
                   {"transferSeconds", report.transferSeconds}});
    else
        print(QString("%1: %2 registers read into %3")
                  .arg(label)
                  .arg(zev::kTransferSetSize)
                  .arg(printable(out)));
    return kOk;
}

int push(const Arguments &a)
{
    expect(a, 2, "push PORT IN.dat [--no-verify]");
    reportPortsFile();
    const QString &port = a.positional[1], &in = a.positional[2];
    zev::ParameterModel wanted;
    readParameters(in, wanted);
    checkPushable(in, wanted, a.raw);
    zev::RoomTask task = taskFor(port, a, zev::Operation::Push);
    task.wanted = wanted.image;
    zev::RoomJob job(task);
    const zev::RoomReport &report =
        runOne(job, port, "push", {zev::Outcome::Differs, zev::Outcome::Unanswered});
    QJsonArray silent;
    for (std::uint8_t address : report.unanswered)
        silent.append(address);
    const int code = exitCodeOf(report.outcome);
    const QString label = portLabel(port, report.device);
    if (a.json) {
        printJson({{"command", "push"},
                   {"version", zev::kResultVersion},
                   {"port", port},
                   {"device", QString::fromStdString(report.device)},
                   {"file", in},
                   {"a", in},
                   {"b", port},
                   {"verified", !a.noVerify},
                   {"unanswered", silent},
                   {"differing", zev::differencesJson(report.differing, wanted.image, report.held)},
                   {"ok", code == kOk},
                   {"transferSeconds", report.transferSeconds}});
    } else {
        for (std::uint8_t address : report.differing)
            print(zev::differenceText(address, wanted.image[address], report.held[address],
                                      printable(in), zev::processorSide(outputLanguage()),
                                      outputLanguage()));
        if (report.outcome == zev::Outcome::Unanswered)
            complain(label + ": " + outcomeText(report));
        else if (code == kOk)
            print(QString("%1: %2 registers written%3")
                      .arg(label)
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
                              portLabel(a.positional[side + 1], report.device) + ": " +
                                  outcomeText(report, a.positional[side + 1]));
            sides[side].image = report.held;
        }
    }
    const zev::ParameterModel &left = sides[0], &right = sides[1];
    const std::vector<std::uint8_t> differing = zev::differingRegisters(left.image, right.image);
    if (!a.json)
        for (std::uint8_t address : differing)
            print(zev::differenceText(address, left.image[address], right.image[address],
                                      printable(a.positional[1]), printable(a.positional[2]),
                                      outputLanguage()));
    QJsonArray slotDiffs;
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
    const bool equal = differing.empty() && slotDiffs.isEmpty();
    if (a.json)
        printJson({{"command", "diff"},
                   {"version", zev::kResultVersion},
                   {"a", a.positional[1]},
                   {"b", a.positional[2]},
                   {"equal", equal},
                   {"differing", zev::differencesJson(differing, left.image, right.image)},
                   {"slots", slotDiffs}});
    else if (equal)
        print(QString("no difference: the %1 registers%2 are the same")
                  .arg(zev::kTransferSetSize)
                  .arg(isFile[0] && isFile[1] ? " and the 21 mode slots" : ""));
    return equal ? kOk : kDifferent;
}

int show(const Arguments &a)
{
    expect(a, 1, "show FILE.dat [--json]");
    zev::ParameterModel model;
    readParameters(a.positional[1], model);
    if (a.json) {
        // The document that build reads, named as every result is by its command.
        QByteArray text = QByteArray::fromStdString(zev::parametersToJson(model));
        text.replace(0, 1, "{\n    \"command\": \"show\",");
        printRaw(text);
        return kOk;
    }
    const zev::Language language = outputLanguage();
    const auto said = [language](const std::string &text) {
        return QString::fromStdString(zev::inLanguage(text, language));
    };
    for (const zev::RegisterRow &row : zev::registerMap()) {
        const zev::Placement where = zev::placementOf(row.address);
        print(QString("%1  %2  %3  %4  %5")
                  .arg(said(where.page), *where.group ? said(where.group) : QString("-"),
                       QString::fromStdString(zev::nameForPeople(row.address, language)))
                  .arg(model.image[row.address], 3)
                  .arg(said(zev::shownValue(row, model.image[row.address]))));
    }
    for (int slot = 0; slot < zev::kSlotCount; ++slot) {
        QStringList held;
        for (const zev::RegisterRow &row : zev::registerMap()) {
            const std::uint8_t value = model.modeSlots[slot][row.address];
            if (value != 0)
                held << QString("%1=%2").arg(
                    QString::fromStdString(zev::nameForPeople(row.address, language)),
                    said(zev::shownValue(row, value)));
        }
        print(QString("slot %1: %2").arg(slot).arg(held.isEmpty() ? "(empty)" : held.join(", ")));
    }
    return kOk;
}

int build(const Arguments &a)
{
    expect(a, 2, "build FILE.json OUT.dat");
    const QString &in = a.positional[1], &out = a.positional[2];
    checkOutput(out, {in});
    const std::string text = readText(in, zev::kMaxParameterJsonBytes);
    std::string error;
    zev::ParameterModel model;
    if (!zev::parametersFromJson(text, in.toStdString(), model, error))
        throw Failure(kFileFailed, printable(QString::fromStdString(error)));
    writeParameters(out, model);
    if (a.json)
        printJson({{"command", "build"},
                   {"version", zev::kResultVersion},
                   {"file", in},
                   {"out", out},
                   {"registers", zev::kTransferSetSize}});
    return kOk;
}

int lock(const Arguments &a)
{
    expect(a, 1, "lock PORT");
    reportPortsFile();
    const QString &port = a.positional[1];
    zev::RoomJob job(taskFor(port, a, zev::Operation::Lock));
    const zev::RoomReport &report = runOne(job, port, "lock");
    if (a.json)
        printJson({{"command", "lock"},
                   {"version", zev::kResultVersion},
                   {"port", port},
                   {"device", QString::fromStdString(report.device)},
                   {"locked", true},
                   {"transferSeconds", report.transferSeconds}});
    else
        print(portLabel(port, report.device) + ": locked");
    return kOk;
}

int run(const QStringList &words)
{
    if (words.isEmpty()) {
        writeStandardError(kHelpText, long(std::strlen(kHelpText)));
        return kUsage;
    }
    const bool help = words.contains("--help") || words.contains("-h") || words.first() == "help";
    if (help) {
        // "help pull", "pull --help", "pull -h": that command's help; the global one otherwise.
        QString command;
        for (qsizetype i = 0; i < words.size(); ++i) {
            if (takesValue(words[i])) {
                ++i; // "--baud 9600 --help": 9600 is the rate, not a command
                continue;
            }
            if (!words[i].startsWith('-') && words[i] != "help") {
                command = words[i];
                break;
            }
        }
        if (!command.isEmpty() && !commandHelp(command)) throw Failure(kUsage, unknownCommand(command));
        printHelp(command);
        return kOk;
    }
    if (words.contains("--version")) {
        print(QString("zev720ctl %1\n%2").arg(ZEV720_VERSION, ZEV720_NOTICE));
        return kOk;
    }
    // ZEV720_LANG as the panel reads it; --lang before it.
    zev::Language language;
    if (zev::parseLanguage(qEnvironmentVariable("ZEV720_LANG").toStdString(), language))
        setOutputLanguage(language);
    const Arguments a = parseArguments(words);
    if (a.positional.isEmpty()) throw Failure(kUsage, "no command (zev720ctl --help lists them)");
    const QString &command = a.positional.first();
    if (command == "ports") {
        expect(a, 0, "ports [--probe]");
        reportPortsFile();
        return listPorts(a.probe, a.line, a.json);
    }
    if (command == "venue") {
        reportPortsFile();
        return runVenue(a.positional, a.line, a.jobs, a.json, a.noVerify, a.raw);
    }
    static const std::map<QString, int (*)(const Arguments &)> commands = {
        {"pull", pull}, {"push", push},   {"diff", diff},
        {"show", show}, {"build", build}, {"lock", lock}};
    const auto it = commands.find(command);
    if (it == commands.end()) throw Failure(kUsage, unknownCommand(command));
    return it->second(a);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int code = kOk;
    try {
        code = run(app.arguments().mid(1));
    } catch (const Failure &failure) {
        finishOutput();
        complain(QString::fromUtf8(failure.what()));
        return failure.exitCode;
    }
    finishOutput();
    return code;
}
