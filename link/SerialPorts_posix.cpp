// The serial layer on Qt SerialPort, for POSIX systems.
//
// The user-interface thread sleeps between a write and the poll that follows it, so a write
// is flushed to the line at once and a read takes what the operating system already holds,
// without an event loop. A hung-up device (the adapter pulled out) is noticed here and its
// port is closed at once: Qt would otherwise report a read error on every pass of the event
// loop for as long as the port stays open.
#include "link/OpenReplies.h"
#include "link/Readiness.h"
#include "wire/LineCodes.h"
#include "link/PortDevices.h"
#include "wire/SerialLibrary.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QSerialPort>
#include <cerrno>
#include <map>
#include <memory>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zev {
namespace {

constexpr int kNotOpen = int(LineResult::NoSuchDevice);

class QtSerialLibrary final : public SerialLibrary {
public:
    void startOpen(int port, OpenDone done) override;
    OpenOutcome openPort(int port) override;
    int setLine(int port, int baudCode, int modeCode) override;
    int setFlow(int port, int flowCode) override;
    int read(int port, std::uint8_t *buffer, int capacity) override;
    int write(int port, const std::uint8_t *buffer, int length) override;
    int closePort(int port) override;
    void watchInput(int port, std::function<void()> ready) override;

private:
    struct Port {
        QSerialPort serial;
        Readiness readiness;
        bool gone = false;
    };
    Port *find(int port);
    bool checkGone(Port &port);
    void markGone(Port &port);

    std::map<int, std::unique_ptr<Port>> m_ports;
    OpenReplies m_replies;
    bool m_cleanupRegistered = false;
};

// What the operating system holds for a port right now: input waiting, or a hang-up (the
// device went away). One poll without waiting.
struct LineState {
    bool input = false;
    bool hungUp = false;
};
LineState lineState(const QSerialPort &serial)
{
    pollfd fd{static_cast<int>(serial.handle()), POLLIN, 0};
    if (::poll(&fd, 1, 0) <= 0) return {};
    return {(fd.revents & POLLIN) != 0, (fd.revents & (POLLHUP | POLLNVAL)) != 0};
}

QSerialPort::Parity toQt(Parity parity)
{
    switch (parity) {
    case Parity::Even:
        return QSerialPort::EvenParity;
    case Parity::Odd:
        return QSerialPort::OddParity;
    case Parity::Mark:
        return QSerialPort::MarkParity;
    case Parity::Space:
        return QSerialPort::SpaceParity;
    case Parity::None:
        break;
    }
    return QSerialPort::NoParity;
}

// Why Qt could not open a device. Qt calls a lock file held by another program and the
// device's own permissions both a permission error: the permissions tell them apart.
OpenOutcome whyNotOpened(const QSerialPort &serial, const QString &path)
{
    OpenOutcome report;
    switch (serial.error()) {
    case QSerialPort::DeviceNotFoundError:
        report.result = LineResult::NoSuchDevice;
        break;
    case QSerialPort::PermissionError:
        report.result = LineResult::HeldElsewhere;
        if (::faccessat(AT_FDCWD, path.toLocal8Bit().constData(), R_OK | W_OK, AT_EACCESS) != 0 &&
            errno == EACCES) {
            report.result = LineResult::PermissionDenied;
            struct stat info {};
            // Joining the device's group helps only when that group may read and write it.
            if (::stat(path.toLocal8Bit().constData(), &info) == 0) {
                const group *owners = ::getgrgid(info.st_gid);
                if (owners && (info.st_mode & S_IRGRP) && (info.st_mode & S_IWGRP))
                    report.group = owners->gr_name;
                else if (const passwd *user = ::getpwuid(info.st_uid))
                    report.owner = user->pw_name;
            }
        }
        break;
    default:
        report.result = LineResult::Failed;
        report.text = serial.errorString().toStdString();
        break;
    }
    return report;
}

QtSerialLibrary::Port *QtSerialLibrary::find(int port)
{
    const auto it = m_ports.find(port);
    return it == m_ports.end() ? nullptr : it->second.get();
}

void QtSerialLibrary::markGone(Port &port)
{
    if (port.gone) return;
    port.gone = true;
    port.readiness.notify();
    // Closed from the event loop: this may run inside QSerialPort's own read handling.
    QMetaObject::invokeMethod(
        &port.serial, [serial = &port.serial] { serial->close(); }, Qt::QueuedConnection);
}

bool QtSerialLibrary::checkGone(Port &port)
{
    if (!port.gone && (!port.serial.isOpen() || lineState(port.serial).hungUp)) markGone(port);
    return port.gone;
}

// A device opens at once: the outcome is known before startOpen returns.
void QtSerialLibrary::startOpen(int port, OpenDone done)
{
    m_replies.later(port, std::move(done), openPort(port));
}

OpenOutcome QtSerialLibrary::openPort(int port)
{
    const std::string device = portDevice(port);
    if (find(port)) return {LineResult::HeldHere, {}, device, {}}; // this program holds it
    if (device.empty()) return {LineResult::NoSuchDevice, {}, {}, {}};
    // One name per device, so that the lock taken for a link is the lock of its target.
    QString path = QString::fromStdString(device);
    const QFileInfo info(path);
    if (info.isSymLink() && info.exists()) path = info.canonicalFilePath();

    auto entry = std::make_unique<Port>();
    entry->serial.setPortName(path);
    // What Qt may take from the operating system ahead of our reads: a flood is dropped
    // there instead of filling memory.
    entry->serial.setReadBufferSize(kLineBuffer);
    if (!entry->serial.open(QIODevice::ReadWrite)) {
        OpenOutcome failed = whyNotOpened(entry->serial, path);
        failed.device = device;
        return failed;
    }
    Port *raw = entry.get();
    QObject::connect(&raw->serial, &QSerialPort::readyRead, &raw->serial,
                     [raw] { raw->readiness.notify(); });
    // Qt also calls a full output buffer a resource error: only a hang-up means the device
    // is gone.
    QObject::connect(&raw->serial, &QSerialPort::errorOccurred, &raw->serial,
                     [this, raw](QSerialPort::SerialPortError error) {
                         if (error != QSerialPort::NoError && error != QSerialPort::TimeoutError &&
                             lineState(raw->serial).hungUp)
                             markGone(*raw);
                     });
    if (!m_cleanupRegistered) {
        // Ports still open at exit are released before the application object goes.
        qAddPostRoutine([] { static_cast<QtSerialLibrary &>(serialPorts()).m_ports.clear(); });
        m_cleanupRegistered = true;
    }
    m_ports[port] = std::move(entry);
    return {LineResult::Ok, {}, device, {}};
}

int QtSerialLibrary::setLine(int port, int baudCode, int modeCode)
{
    Port *entry = find(port);
    if (!entry || entry->gone) return kNotOpen;
    const LineSettings line = decodeLine(baudCode, modeCode);
    QSerialPort &serial = entry->serial;
    const bool ok =
        serial.setBaudRate(line.baudRate) &&
        serial.setDataBits(static_cast<QSerialPort::DataBits>(line.dataBits)) &&
        serial.setStopBits(line.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop) &&
        serial.setParity(toQt(line.parity));
    serial.clearError();
    return ok ? 0 : int(LineResult::Failed);
}

int QtSerialLibrary::setFlow(int port, int flowCode)
{
    Port *entry = find(port);
    if (!entry || entry->gone) return kNotOpen;
    const int flow = decodeFlow(flowCode);
    const auto control = flow == kFlowHardware   ? QSerialPort::HardwareControl
                         : flow == kFlowSoftware ? QSerialPort::SoftwareControl
                                                 : QSerialPort::NoFlowControl;
    const bool ok = entry->serial.setFlowControl(control);
    entry->serial.clearError();
    return ok ? 0 : int(LineResult::Failed);
}

int QtSerialLibrary::read(int port, std::uint8_t *buffer, int capacity)
{
    Port *entry = find(port);
    if (!entry) return kNotOpen;
    QSerialPort &serial = entry->serial;
    const LineState line = lineState(serial);
    if (entry->gone || !serial.isOpen() || line.hungUp) {
        markGone(*entry);
        return kSerialDeviceGone;
    }
    if (capacity <= 0) return 0;
    // Without an event loop nothing moves the operating system's bytes into the port's
    // buffer: take them now, without waiting. What Qt signals meanwhile reaches the watcher
    // later (Readiness), never this read.
    if (line.input && serial.bytesAvailable() < capacity) {
        serial.waitForReadyRead(0);
        if (serial.error() != QSerialPort::NoError) serial.clearError();
    }
    const qint64 n = serial.read(reinterpret_cast<char *>(buffer), capacity);
    return n > 0 ? static_cast<int>(n) : 0;
}

int QtSerialLibrary::write(int port, const std::uint8_t *buffer, int length)
{
    Port *entry = find(port);
    if (!entry) return kNotOpen;
    if (checkGone(*entry)) return kSerialDeviceGone;
    QSerialPort &serial = entry->serial;
    const qint64 n = serial.write(reinterpret_cast<const char *>(buffer), length);
    const bool flushed = n >= 0 && serial.flush();
    if (!flushed) {
        serial.clearError();
        if (checkGone(*entry)) return kSerialDeviceGone;
        // The line is held (flow control, or nobody reads the other end): this frame is not
        // sent, and nothing piles up behind it.
        serial.clear(QSerialPort::Output);
        return kLineHeld;
    }
    return static_cast<int>(n);
}

void QtSerialLibrary::watchInput(int port, std::function<void()> ready)
{
    Port *entry = find(port);
    if (!entry) return;
    entry->readiness.watch(std::move(ready));
    if (entry->gone || entry->serial.bytesAvailable() > 0) entry->readiness.notify();
}

int QtSerialLibrary::closePort(int port)
{
    const bool replyWaiting = m_replies.cancel(port);
    const auto it = m_ports.find(port);
    if (it == m_ports.end()) return replyWaiting ? 0 : kNotOpen;
    m_ports.erase(it); // closes the port and drops its lock
    return 0;
}

} // namespace

SerialLibrary &serialPorts()
{
    static QtSerialLibrary library;
    return library;
}

} // namespace zev
