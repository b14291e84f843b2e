// The serial layer on Windows' own serial API.
//
// A port is opened for overlapped I/O with read timeouts that make every read return at once
// with what the driver holds (nothing waits for bytes that are not there) and a write timeout
// that bounds a write to a held line. What arrives stays with the driver until it is read, as
// on POSIX, so the fixed waits of the handshakes find the reply without an event loop. A
// watcher hears of input from a short timer that looks into the driver's queue: the
// notification of Windows' WaitCommEvent is not used, as virtual and emulated serial ports
// (wine's among them) do not all give it.
#include "link/OpenReplies.h"
#include "link/Readiness.h"
#include "wire/LineCodes.h"
#include "link/PortDevices.h"
#include "wire/SerialLibrary.h"
#include "files/TextFile.h" // systemErrorText
#include "files/WindowsText.h"

#include <QCoreApplication>
#include <QTimer>
#include <map>
#include <memory>
#include <vector>

namespace zev {
namespace {

constexpr int kNotOpen = int(LineResult::NoSuchDevice);
constexpr int kWatchIntervalMs = 2;
// A frame takes 5 ms at 9600 baud: a write that has not gone in this time is held.
constexpr DWORD kWriteTimeoutMs = 500;

// \\.\COMn reaches every port, COM10 and above included; a name with a folder is a device
// path as given.
std::wstring devicePath(const std::string &device)
{
    if (device.rfind("\\\\", 0) == 0) return wideText(device);
    return L"\\\\.\\" + wideText(device);
}

bool deviceGone(DWORD code)
{
    return code == ERROR_ACCESS_DENIED || code == ERROR_BAD_COMMAND ||
           code == ERROR_DEVICE_REMOVED || code == ERROR_INVALID_HANDLE ||
           code == ERROR_GEN_FAILURE ||
           code == ERROR_FILE_NOT_FOUND || code == ERROR_DEVICE_NOT_CONNECTED;
}

class WindowsSerialLibrary final : public SerialLibrary {
public:
    void startOpen(int port, OpenDone done) override
    {
        m_replies.later(port, std::move(done), openPort(port));
    }
    OpenOutcome openPort(int port) override;
    int setLine(int port, int baudCode, int modeCode) override;
    int setFlow(int port, int flowCode) override;
    int read(int port, std::uint8_t *buffer, int capacity) override;
    int write(int port, const std::uint8_t *buffer, int length) override;
    int closePort(int port) override;
    void watchInput(int port, std::function<void()> ready) override;

private:
    struct Port {
        HANDLE handle = INVALID_HANDLE_VALUE;
        HANDLE event = nullptr; ///< for the overlapped calls, one at a time
        std::vector<std::uint8_t> held; ///< taken from the driver by the watch, not yet read
        Readiness readiness;
        std::unique_ptr<QTimer> watch;
        bool gone = false;
        ~Port()
        {
            if (handle != INVALID_HANDLE_VALUE) {
                ::PurgeComm(handle, PURGE_RXABORT | PURGE_TXABORT);
                ::CloseHandle(handle);
            }
            if (event) ::CloseHandle(event);
        }
    };
    Port *find(int port)
    {
        const auto it = m_ports.find(port);
        return it == m_ports.end() ? nullptr : it->second.get();
    }
    // One overlapped transfer, waited for; the timeouts bound it. False with the error.
    static bool transfer(Port &entry, bool reading, void *bytes, DWORD size, DWORD &done,
                         DWORD &error);
    // What the driver holds now, appended to `held` up to kLineBuffer; false when gone.
    bool take(Port &entry);
    void markGone(Port &entry)
    {
        if (entry.gone) return;
        entry.gone = true;
        entry.readiness.notify();
    }

    std::map<int, std::unique_ptr<Port>> m_ports;
    OpenReplies m_replies;
    bool m_cleanupRegistered = false;
};

bool WindowsSerialLibrary::transfer(Port &entry, bool reading, void *bytes, DWORD size,
                                    DWORD &done, DWORD &error)
{
    OVERLAPPED overlapped{};
    overlapped.hEvent = entry.event;
    ::ResetEvent(entry.event);
    done = 0;
    const BOOL started = reading ? ::ReadFile(entry.handle, bytes, size, nullptr, &overlapped)
                                 : ::WriteFile(entry.handle, bytes, size, nullptr, &overlapped);
    if (!started && ::GetLastError() != ERROR_IO_PENDING) {
        error = ::GetLastError();
        return false;
    }
    // A read is meant to return at once with what the driver holds; one that waits instead
    // (wine does for an empty queue) is cancelled, keeping what it got.
    if (!started && reading && ::WaitForSingleObject(entry.event, 0) != WAIT_OBJECT_0)
        ::CancelIoEx(entry.handle, &overlapped);
    if (!::GetOverlappedResult(entry.handle, &overlapped, &done, TRUE)) {
        error = ::GetLastError();
        return reading && error == ERROR_OPERATION_ABORTED;
    }
    return true;
}

bool WindowsSerialLibrary::take(Port &entry)
{
    if (entry.gone) return false;
    std::uint8_t chunk[512];
    while (entry.held.size() < std::size_t(kLineBuffer)) {
        const DWORD room = DWORD(std::min<std::size_t>(sizeof chunk, kLineBuffer - entry.held.size()));
        DWORD got = 0, error = 0;
        if (!transfer(entry, true, chunk, room, got, error)) {
            if (deviceGone(error)) markGone(entry);
            return !entry.gone;
        }
        if (got == 0) break;
        entry.held.insert(entry.held.end(), chunk, chunk + got);
    }
    return true;
}

OpenOutcome WindowsSerialLibrary::openPort(int port)
{
    const std::string device = portDevice(port);
    if (find(port)) return {LineResult::HeldHere, {}, device, {}};
    if (device.empty()) return {LineResult::NoSuchDevice, {}, {}, {}};
    auto entry = std::make_unique<Port>();
    // Not shared: Windows itself keeps a second program out of an open port.
    entry->handle = ::CreateFileW(devicePath(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (entry->handle == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        OpenOutcome failed;
        failed.device = device;
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            failed.result = LineResult::NoSuchDevice;
        else if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION)
            failed.result = LineResult::HeldElsewhere; // Windows: another program has it open
        else {
            failed.result = LineResult::Failed;
            failed.text = systemErrorText(int(code));
        }
        return failed;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD; // a read returns at once with what is there
    timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
    entry->event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!entry->event || ::GetFileType(entry->handle) != FILE_TYPE_CHAR ||
        !::GetCommState(entry->handle, &dcb) || !::SetCommTimeouts(entry->handle, &timeouts)) {
        const DWORD code = ::GetLastError();
        return {LineResult::Failed, {}, device,
                code ? systemErrorText(int(code)) : std::string("not a serial port")};
    }
    ::SetupComm(entry->handle, kLineBuffer, kLineBuffer);
    ::PurgeComm(entry->handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    if (!m_cleanupRegistered) {
        // Ports still open at exit are closed before the application object goes.
        qAddPostRoutine(
            [] { static_cast<WindowsSerialLibrary &>(serialPorts()).m_ports.clear(); });
        m_cleanupRegistered = true;
    }
    m_ports[port] = std::move(entry);
    return {LineResult::Ok, {}, device, {}};
}

int WindowsSerialLibrary::setLine(int port, int baudCode, int modeCode)
{
    Port *entry = find(port);
    if (!entry || entry->gone) return kNotOpen;
    const LineSettings line = decodeLine(baudCode, modeCode);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(entry->handle, &dcb)) return int(LineResult::Failed);
    dcb.BaudRate = DWORD(line.baudRate);
    dcb.ByteSize = BYTE(line.dataBits);
    dcb.StopBits = line.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    switch (line.parity) {
    case Parity::Even:
        dcb.Parity = EVENPARITY;
        break;
    case Parity::Odd:
        dcb.Parity = ODDPARITY;
        break;
    case Parity::Mark:
        dcb.Parity = MARKPARITY;
        break;
    case Parity::Space:
        dcb.Parity = SPACEPARITY;
        break;
    case Parity::None:
        dcb.Parity = NOPARITY;
        break;
    }
    dcb.fParity = line.parity != Parity::None;
    dcb.fBinary = TRUE;
    dcb.fAbortOnError = FALSE;
    return ::SetCommState(entry->handle, &dcb) ? 0 : int(LineResult::Failed);
}

int WindowsSerialLibrary::setFlow(int port, int flowCode)
{
    Port *entry = find(port);
    if (!entry || entry->gone) return kNotOpen;
    const int flow = decodeFlow(flowCode);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(entry->handle, &dcb)) return int(LineResult::Failed);
    dcb.fOutxCtsFlow = flow == kFlowHardware;
    dcb.fRtsControl = flow == kFlowHardware ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fOutX = dcb.fInX = flow == kFlowSoftware;
    return ::SetCommState(entry->handle, &dcb) ? 0 : int(LineResult::Failed);
}

int WindowsSerialLibrary::read(int port, std::uint8_t *buffer, int capacity)
{
    Port *entry = find(port);
    if (!entry) return kNotOpen;
    if (entry->gone) return kSerialDeviceGone;
    if (capacity <= 0) {
        DWORD errors = 0;
        if (!::ClearCommError(entry->handle, &errors, nullptr) && deviceGone(::GetLastError()))
            markGone(*entry);
        return entry->gone ? kSerialDeviceGone : 0;
    }
    if (entry->held.size() < std::size_t(capacity) && !take(*entry)) return kSerialDeviceGone;
    const std::size_t n = std::min(entry->held.size(), std::size_t(capacity));
    std::copy_n(entry->held.begin(), n, buffer);
    entry->held.erase(entry->held.begin(), entry->held.begin() + std::ptrdiff_t(n));
    return int(n);
}

int WindowsSerialLibrary::write(int port, const std::uint8_t *buffer, int length)
{
    Port *entry = find(port);
    if (!entry) return kNotOpen;
    if (entry->gone) return kSerialDeviceGone;
    DWORD wrote = 0, error = 0;
    std::vector<std::uint8_t> bytes(buffer, buffer + length);
    if (!transfer(*entry, false, bytes.data(), DWORD(length), wrote, error)) {
        if (deviceGone(error)) {
            markGone(*entry);
            return kSerialDeviceGone;
        }
        ::PurgeComm(entry->handle, PURGE_TXABORT | PURGE_TXCLEAR);
        return kLineHeld;
    }
    if (wrote < DWORD(length)) {
        // The write timed out: the line is held. What did not go is dropped.
        ::PurgeComm(entry->handle, PURGE_TXABORT | PURGE_TXCLEAR);
        return kLineHeld;
    }
    return length;
}

void WindowsSerialLibrary::watchInput(int port, std::function<void()> ready)
{
    Port *entry = find(port);
    if (!entry) return;
    const bool on = bool(ready);
    entry->readiness.watch(std::move(ready));
    if (!on) {
        entry->watch.reset();
        return;
    }
    if (!entry->watch) {
        entry->watch = std::make_unique<QTimer>();
        entry->watch->setInterval(kWatchIntervalMs);
        QObject::connect(entry->watch.get(), &QTimer::timeout, [this, entry] {
            const std::size_t before = entry->held.size();
            take(*entry);
            if (entry->gone || entry->held.size() > before) entry->readiness.notify();
        });
        entry->watch->start();
    }
    if (entry->gone || !entry->held.empty()) entry->readiness.notify();
}

int WindowsSerialLibrary::closePort(int port)
{
    const bool replyWaiting = m_replies.cancel(port);
    const auto it = m_ports.find(port);
    if (it == m_ports.end()) return replyWaiting ? 0 : kNotOpen;
    m_ports.erase(it);
    return 0;
}

} // namespace

SerialLibrary &serialPorts()
{
    static WindowsSerialLibrary library;
    return library;
}

} // namespace zev
