// The processor's line for zev720ctl: which port, which settings, opening and connecting, and
// why a port does not answer.
#include "Ctl.h"

#include "files/ParameterFile.h"
#include "link/LineCodes.h"
#include "link/NetworkLines.h"
#include "link/PortInfo.h"
#include "link/PortMap.h"
#include "settings/PortSettings.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace ctl {
namespace {

// A device path is given a number of its own, above any that a person would type.
constexpr int kFirstPathPort = 1'000'000;
int nextPathPort = kFirstPathPort;

int wakeSockets[2] = {-1, -1};
volatile std::sig_atomic_t signalled = 0;

void onSignal(int)
{
    signalled = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wakeSockets[0], &byte, 1);
}

} // namespace

int portNumberOf(const QString &text)
{
    bool number = false;
    const int port = text.toInt(&number);
    if (number) return port;
    if (!text.startsWith('/') && !text.startsWith("./") && !text.startsWith("../") &&
        !zev::isNetworkLine(text.toStdString()))
        throw Failure(kUsage, text + ": not a port number, a device path or a network line");
    if (zev::isNetworkLine(text.toStdString()) && !zev::parseNetworkLine(text.toStdString()).valid)
        throw Failure(kUsage, text + ": not tcp://HOST:PORT or rfc2217://HOST:PORT");
    zev::assignPortDevice(nextPathPort, text.toStdString());
    return nextPathPort++;
}

static int listIndex(const QStringList &list, const QString &value, const char *what)
{
    const auto index = list.indexOf(value.toLower());
    if (index < 0)
        throw Failure(kUsage, QString("%1 '%2': one of %3").arg(what, value, list.join(", ")));
    return int(index);
}

zev::PortSettings lineFor(int port, const LineOptions &options)
{
    zev::PortSettings settings; // 9600 8N1 unless ZEV720.cfg or the options say otherwise
    zev::readPortSettingsFile(settings);
    settings.port = port;
    if (options.baud >= 0) {
        settings.baud = -1;
        for (int i = 0; i < zev::kBaudRateCount; ++i)
            if (zev::kBaudRates[i] == options.baud) settings.baud = i;
        if (settings.baud < 0)
            throw Failure(kUsage,
                          QString("--baud %1: not a rate of the port settings").arg(options.baud));
    }
    if (options.dataBits >= 0) {
        if (options.dataBits < 5 || options.dataBits > 8)
            throw Failure(kUsage, "--data: 5, 6, 7 or 8");
        settings.dataBits = options.dataBits - 5;
    }
    if (options.stopBits >= 0) {
        if (options.stopBits != 1 && options.stopBits != 2) throw Failure(kUsage, "--stop: 1 or 2");
        settings.stopBits = options.stopBits - 1;
    }
    if (!options.parity.isEmpty())
        settings.parity =
            listIndex({"none", "even", "odd", "mark", "space"}, options.parity, "--parity");
    if (!options.flow.isEmpty())
        settings.flow = listIndex({"none", "hardware", "software"}, options.flow, "--flow");
    return settings;
}

QString whyNotOpened(int port)
{
    const zev::OpenFailureReport report = zev::lastOpenFailure(port);
    switch (report.kind) {
    case zev::OpenFailure::NoSuchDevice:
        return "no such device";
    case zev::OpenFailure::PermissionDenied: {
        const QString group =
            QString::fromStdString(report.group.empty() ? "dialout" : report.group);
        return QString("permission denied (join the group %1: sudo adduser $USER %1, then log in "
                       "again)")
            .arg(group);
    }
    case zev::OpenFailure::HeldElsewhere:
        return "held by another program";
    case zev::OpenFailure::HeldHere:
        return "already open in this program";
    case zev::OpenFailure::Other:
        return QString::fromStdString(report.text);
    case zev::OpenFailure::None:
        break;
    }
    return "cannot open";
}

bool looksLikePort(const QString &text)
{
    bool number = false;
    text.toInt(&number);
    if (number) return true;
    const QFileInfo info(text);
    return text.startsWith("/dev/") || zev::isNetworkLine(text.toStdString()) ||
           (info.exists() && !info.isFile() && !info.isDir());
}

Processor::Processor(const QString &port, const LineOptions &options)
    : m_port(port), m_session(new zev::LinkSession(zev::systemSerialLibrary()))
{
    for (const std::string &problem : zev::readPortsFile().problems)
        complain(QString::fromStdString(problem));
    const int number = portNumberOf(port);
    m_session->setLine(lineFor(number, options));
    watchInterrupts(m_session.get());
    if (!m_session->open())
        throw Failure(kLinkFailed, port + ": cannot open: " + whyNotOpened(number));
    switch (m_session->connectProcessor()) {
    case zev::ConnectResult::Connected:
        return;
    case zev::ConnectResult::DeviceLost:
        throw Failure(kLinkFailed, port + ": the device went away");
    case zev::ConnectResult::PortNotOpen:
    case zev::ConnectResult::NoAnswer:
        break;
    }
    throw Failure(kLinkFailed, port + ": no answer from the processor (switched off, or another "
                                      "rate?)");
}

Processor::~Processor()
{
    m_session->releaseProcessor();
    watchInterrupts(nullptr);
}

void Processor::readBack(zev::RegisterImage &image, const QString &what)
{
    const auto items = zev::transferSet(image, true);
    Progress progress(what, int(items.size()));
    const auto results = m_session->runTransfer(items, [&](int done) { progress.show(done); });
    if (interrupted()) throw Failure(kInterrupted, m_port + ": interrupted");
    QStringList silent;
    for (const zev::TransferResult &result : results) {
        if (result.answered)
            image[result.address] = result.value;
        else
            silent << QString::number(result.address);
    }
    if (results.size() != items.size() || !silent.isEmpty())
        throw Failure(kLinkFailed, m_port + ": no answer for register(s) " + silent.join(", "));
}

int listPorts(bool probe, const LineOptions &options, bool json)
{
    QJsonArray rows;
    QStringList seen;
    auto describe = [&](int number, const QString &device) {
        QJsonObject row;
        if (number > 0) row["port"] = number;
        row["device"] = device;
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
            if (info.systemLocation() != QFileInfo(device).canonicalFilePath() &&
                info.systemLocation() != device)
                continue;
            row["description"] = info.description();
            row["manufacturer"] = info.manufacturer();
            row["serialNumber"] = info.serialNumber();
            if (info.hasVendorIdentifier())
                row["usb"] = QString("%1:%2")
                                 .arg(info.vendorIdentifier(), 4, 16, QChar('0'))
                                 .arg(info.productIdentifier(), 4, 16, QChar('0'));
        }
        if (probe) {
            try {
                Processor processor(number > 0 ? QString::number(number) : device, options);
                row["probe"] = "answers";
            } catch (const Failure &failure) {
                const QString text = QString::fromStdString(failure.what());
                row["probe"] = text.mid(text.indexOf(": ") + 2);
            }
        }
        rows.append(row);
        seen << device;
    };
    for (int port = zev::kFirstScanPort; port <= zev::kLastScanPort; ++port) {
        const QString device = QString::fromStdString(zev::portDevice(port));
        if (!device.isEmpty()) describe(port, device);
    }
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        if (!seen.contains(info.systemLocation())) describe(0, info.systemLocation());
    if (json) {
        std::puts(QJsonDocument(rows).toJson(QJsonDocument::Indented).constData());
        return kOk;
    }
    if (rows.isEmpty()) std::puts("no serial ports");
    for (const QJsonValue &value : rows) {
        const QJsonObject row = value.toObject();
        QStringList parts;
        parts << (row.contains("port") ? QString("port %1").arg(row["port"].toInt())
                                       : QString("(no number)"))
              << row["device"].toString();
        for (const char *key : {"description", "manufacturer", "serialNumber", "usb"})
            if (!row[key].toString().isEmpty()) parts << row[key].toString();
        if (row.contains("probe")) parts << "— " + row["probe"].toString();
        std::puts(parts.join("  ").toLocal8Bit().constData());
    }
    return kOk;
}

Progress::Progress(const QString &what, int total)
    : m_what(what), m_total(total), m_terminal(::isatty(STDERR_FILENO) == 1)
{
}

Progress::~Progress()
{
    if (m_terminal) std::fputs("\r\033[K", stderr);
}

void Progress::show(int done)
{
    if (!m_terminal || m_total <= 0) return;
    constexpr int kWidth = 30;
    const int filled = kWidth * done / m_total;
    std::fprintf(stderr, "\r%s [%s%s] %d/%d", m_what.toLocal8Bit().constData(),
                 std::string(std::size_t(filled), '#').c_str(),
                 std::string(std::size_t(kWidth - filled), '.').c_str(), done, m_total);
    std::fflush(stderr);
}

bool interrupted()
{
    return signalled != 0;
}

// A signal ends the running transfer from the event loop; the Processor then releases the
// processor as it goes.
void watchInterrupts(zev::LinkSession *session)
{
    static QSocketNotifier *notifier = nullptr;
    static zev::LinkSession *watched = nullptr;
    watched = session;
    if (notifier) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wakeSockets)) return;
    notifier = new QSocketNotifier(wakeSockets[1], QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char drain[16];
        [[maybe_unused]] const ssize_t ignored = ::read(wakeSockets[1], drain, sizeof drain);
        if (watched) watched->cancelTransfer();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

void complain(const QString &message)
{
    std::fprintf(stderr, "zev720ctl: %s\n", message.toLocal8Bit().constData());
}

void readParameters(const QString &path, zev::ParameterModel &model)
{
    const QFileInfo info(path);
    if (info.exists() && info.isFile() && info.size() != qint64(zev::kParameterFileSize))
        throw Failure(kFileFailed, QString("%1: not a parameter file (%2 bytes, not %3)")
                                       .arg(path)
                                       .arg(info.size())
                                       .arg(zev::kParameterFileSize));
    std::string error;
    switch (zev::readParameterFile(path.toStdString(), model, error)) {
    case zev::ReadStatus::Read:
        return;
    case zev::ReadStatus::Missing:
        throw Failure(kFileFailed, path + ": cannot read: No such file or directory");
    case zev::ReadStatus::Failed:
        throw Failure(kFileFailed, QString::fromStdString(error));
    }
}

void writeParameters(const QString &path, const zev::ParameterModel &model)
{
    std::string error;
    if (!zev::writeParameterFile(path.toStdString(), model, error))
        throw Failure(kFileFailed, QString::fromStdString(error));
}

} // namespace ctl
