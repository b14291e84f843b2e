// zev720-sim: the ZEV720 processor on a pseudo-terminal.
//
// Prints the path of the terminal side on the first line of standard output, then answers
// frames by the processor's rules. Misbehaviours on demand, each reproducible with --seed.
// SIGUSR1 writes the registers to the --dump file; SIGUSR2 toggles the noise flood; SIGTERM
// and SIGINT end it cleanly (with a last dump).
//
// Lines on standard input drive it from a test: "send HEX..." puts those bytes on the line
// at once (answered "sent N"), "silent on|off", "flood on|off", "pause on|off" (stop reading
// the line and hold the panel's output, as a device does with flow control: its writes are
// refused), "drop P", "dump", "set A V" (register A becomes V as the unit's own front panel
// would make it: no frame) and "factory" (the unit forgets everything, as one that lost its
// memory: the factory image).
#include "sim/Processor.h"
#include "wire/FrameCodec.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char *kUsage =
    "usage: zev720-sim [options]\n"
    "  --link PATH      also reach the terminal through the symbolic link PATH\n"
    "  --load FILE      start from the registers of a parameter file (else the factory values)\n"
    "  --dump FILE      write the 256 registers to FILE at exit and on SIGUSR1\n"
    "  --log FILE       log every frame received (and sent) with a monotonic timestamp\n"
    "  --seed N         where the random choices below start (default 1)\n"
    "  --silent         never answer: a processor that is switched off\n"
    "  --drop P         drop a share P (0 to 1) of the replies\n"
    "  --corrupt P      corrupt one byte in a share P of the replies\n"
    "  --noise P        put 1 to 8 noise bytes before a share P of the replies\n"
    "  --split          write every reply in two parts, --split-gap MS apart (default 3)\n"
    "  --delay MS       answer MS milliseconds late\n"
    "  --listen H:P     a raw TCP server on H:P (port 0: a free one) instead of a terminal;\n"
    "                   prints tcp://H:P first; one client at a time\n"
    "  --mangle A       register A stores every value written to it plus one (a faulty unit)\n"
    "  --baud B         pace the output like a line at B baud (10 bits a byte)\n"
    "  --flood          send noise (with frames in it) as fast as the terminal takes it;\n"
    "                   SIGUSR2 toggles it\n"
    "  --banner N       --listen: greet each client with N bytes of text first\n"
    "  --hangup-after N --listen: close a client's connection after its Nth frame\n"
    "  --reset-after N  --listen: reset a client's connection after its Nth frame\n"
    "  --silent-after N answer N frames, then none: a unit that stopped answering\n"
    "  --echo           send back every byte received, at once, as a two-wire RS-485 adapter\n"
    "                   or a loopback plug does (with --silent: the echo alone)\n"
    "  --reply-other-address  answer each frame but the commands for the address after it,\n"
    "                   with that register's value: a unit that answers, but wrongly\n"
    "  --telnet-prefix N  put N bytes of Telnet commands (IAC NOP) before each reply, as a\n"
    "                   chatty RFC 2217 server; for rfc2217:// clients of --listen\n"
    "standard input: send HEX... | silent on|off | flood on|off | pause on|off | drop P | dump\n"
    "                | set ADDRESS VALUE (as the unit's own panel) | factory (memory lost)\n";

constexpr int kFloodChunk = 4096;
constexpr double kBitsPerByte = 10.0;

volatile sig_atomic_t gStop = 0;
volatile sig_atomic_t gDump = 0;
volatile sig_atomic_t gToggleFlood = 0;
int gWakePipe[2] = {-1, -1};

void onSignal(int signal)
{
    if (signal == SIGUSR1)
        gDump = 1;
    else if (signal == SIGUSR2)
        gToggleFlood = 1;
    else
        gStop = 1;
    const char byte = 0;
    [[maybe_unused]] ssize_t ignored = ::write(gWakePipe[1], &byte, 1);
}

double now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct Options {
    std::string link, load, dump, log;
    unsigned randomStart = 1;
    bool silent = false, split = false, flood = false, echo = false, replyOther = false;
    long telnetPrefix = 0;
    double drop = 0, corrupt = 0, noise = 0;
    double delay = 0, splitGap = 0.003;
    int baud = 0;
    int mangle = -1;
    std::string listen;
    long banner = 0;
    long hangupAfter = 0, resetAfter = 0, silentAfter = 0;
};

bool parse(int argc, char **argv, Options &o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
        const char *v = nullptr;
        if (arg == "--silent")
            o.silent = true;
        else if (arg == "--split")
            o.split = true;
        else if (arg == "--flood")
            o.flood = true;
        else if (arg == "--echo")
            o.echo = true;
        else if (arg == "--reply-other-address")
            o.replyOther = true;
        else if (arg == "--help")
            return false;
        else if (!(v = value()))
            return false;
        else if (arg == "--link")
            o.link = v;
        else if (arg == "--load")
            o.load = v;
        else if (arg == "--dump")
            o.dump = v;
        else if (arg == "--log")
            o.log = v;
        else if (arg == "--seed")
            o.randomStart = unsigned(std::strtoul(v, nullptr, 10));
        else if (arg == "--drop")
            o.drop = std::atof(v);
        else if (arg == "--corrupt")
            o.corrupt = std::atof(v);
        else if (arg == "--noise")
            o.noise = std::atof(v);
        else if (arg == "--delay")
            o.delay = std::atof(v) / 1000.0;
        else if (arg == "--split-gap")
            o.splitGap = std::atof(v) / 1000.0;
        else if (arg == "--baud")
            o.baud = std::atoi(v);
        else if (arg == "--listen")
            o.listen = v;
        else if (arg == "--mangle")
            o.mangle = std::atoi(v);
        else if (arg == "--banner")
            o.banner = std::atol(v);
        else if (arg == "--hangup-after")
            o.hangupAfter = std::atol(v);
        else if (arg == "--reset-after")
            o.resetAfter = std::atol(v);
        else if (arg == "--silent-after")
            o.silentAfter = std::atol(v);
        else if (arg == "--telnet-prefix")
            o.telnetPrefix = std::atol(v);
        else
            return false;
    }
    return true;
}

// Bytes that leave at a given time.
struct Outgoing {
    double due;
    std::vector<std::uint8_t> bytes;
};

class Simulator {
public:
    explicit Simulator(const Options &options) : m_o(options), m_random(options.randomStart) {}
    bool open();
    int run();

private:
    void received(const std::uint8_t *bytes, std::size_t n);
    void answer(std::uint8_t address, std::uint8_t value);
    void schedule(double due, std::vector<std::uint8_t> bytes);
    void flush();
    void dump();
    void command(const std::string &line);
    void readCommands();
    void log(const char *direction, const std::uint8_t *frame);
    bool listenOn(const std::string &where);
    bool finishOpening();
    void accept();
    void logLineSettings();
    bool chance(double p) { return p > 0 && std::uniform_real_distribution<>(0, 1)(m_random) < p; }
    std::uint8_t randomByte() { return std::uint8_t(m_random() & 0xFF); }

    Options m_o;
    std::mt19937 m_random;
    zev::sim::Processor m_processor;
    int m_master = -1; ///< the line: the terminal's master side, or the TCP client
    int m_slave = -1;
    int m_listen = -1; ///< --listen: the server socket
    std::string m_lineSettings;
    std::string m_path;
    std::vector<std::uint8_t> m_input;
    std::deque<Outgoing> m_output;
    double m_lineFree = 0;
    FILE *m_log = nullptr;
    bool m_flooding = false;
    bool m_commandsOpen = true;
    bool m_paused = false; ///< not reading the line
    std::string m_commandText;
    long m_clientFrames = 0; ///< frames from the current client
    long m_frames = 0;       ///< frames received in all
    void dropClient(bool reset);
};

// A raw TCP server on HOST:PORT (port 0: any free one) instead of a terminal. The first line
// printed is then tcp://HOST:PORT; one client at a time, a new one takes the line over.
bool Simulator::listenOn(const std::string &where)
{
    const auto colon = where.rfind(':');
    if (colon == std::string::npos) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(std::atoi(where.c_str() + colon + 1)));
    if (inet_pton(AF_INET, where.substr(0, colon).c_str(), &address.sin_addr) != 1) return false;
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int yes = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    socklen_t size = sizeof address;
    if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr *>(&address), size) ||
        ::listen(m_listen, 4) ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&address), &size))
        return false;
    m_path = "tcp://" + where.substr(0, colon) + ":" + std::to_string(ntohs(address.sin_port));
    return true;
}

void Simulator::accept()
{
    const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (client < 0) return;
    // Each paced byte leaves at once, as on a line: no waiting to fill a segment.
    const int yes = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    if (m_master >= 0) ::close(m_master);
    m_master = client;
    m_input.clear();
    m_output.clear();
    m_clientFrames = 0;
    if (m_o.banner > 0) { // a device server's greeting, before anything else
        std::vector<std::uint8_t> text;
        static const char kLine[] = "Welcome to the serial device server, port 1 at 9600 8N1.\r\n";
        for (long i = 0; i < m_o.banner; ++i)
            text.push_back(std::uint8_t(kLine[std::size_t(i) % (sizeof kLine - 1)]));
        m_output.push_back({now(), std::move(text)});
    }
}

// The server ends the client's connection: closed (FIN) or reset (RST).
void Simulator::dropClient(bool reset)
{
    if (m_listen < 0 || m_master < 0) return;
    if (reset) {
        const linger hard{1, 0};
        ::setsockopt(m_master, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    ::close(m_master);
    m_master = -1;
    m_input.clear();
    m_output.clear();
}

// The line settings that a program put on the terminal (a device server, say), logged when
// they change: "line 19200 8N1".
void Simulator::logLineSettings()
{
    termios line{};
    if (!m_log || m_slave < 0 || tcgetattr(m_slave, &line)) return;
    static const std::pair<speed_t, int> kSpeeds[] = {
        {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},      {B150, 150},
        {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},    {B2400, 2400},
        {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},  {B57600, 57600},
        {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};
    int baud = 0;
    for (auto [code, rate] : kSpeeds)
        if (cfgetospeed(&line) == code) baud = rate;
    const int size = (line.c_cflag & CSIZE) == CS5   ? 5
                     : (line.c_cflag & CSIZE) == CS6 ? 6
                     : (line.c_cflag & CSIZE) == CS7 ? 7
                                                     : 8;
    const char parity = !(line.c_cflag & PARENB) ? 'N' : (line.c_cflag & PARODD) ? 'O' : 'E';
    char text[64];
    std::snprintf(text, sizeof text, "%d %d%c%d", baud, size, parity,
                  (line.c_cflag & CSTOPB) ? 2 : 1);
    if (m_lineSettings == text) return;
    m_lineSettings = text;
    std::fprintf(m_log, "%.6f line %s\n", now(), text);
    std::fflush(m_log);
}

bool Simulator::open()
{
    if (!m_o.listen.empty()) {
        if (!listenOn(m_o.listen)) return false;
        return finishOpening();
    }
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || grantpt(m_master) || unlockpt(m_master)) return false;
    m_path = ptsname(m_master);
    // Holding the terminal side open keeps the master from reporting hang-ups while no panel
    // has it open, and lets the line start raw.
    m_slave = ::open(m_path.c_str(), O_RDWR | O_NOCTTY);
    if (m_slave < 0) return false;
    termios raw{};
    tcgetattr(m_slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(m_slave, TCSANOW, &raw);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    return finishOpening();
}

bool Simulator::finishOpening()
{
    if (m_o.mangle >= 0 && m_o.mangle < 256) m_processor.mangled = std::uint8_t(m_o.mangle);
    if (!m_o.load.empty()) {
        FILE *file = std::fopen(m_o.load.c_str(), "rb");
        if (!file) return false;
        [[maybe_unused]] auto n =
            std::fread(m_processor.registers.data(), 1, m_processor.registers.size(), file);
        std::fclose(file);
    }
    if (!m_o.log.empty() && !(m_log = std::fopen(m_o.log.c_str(), "w"))) return false;
    if (!m_o.link.empty() && m_listen < 0) {
        const std::string temporary = m_o.link + ".new";
        ::unlink(temporary.c_str());
        if (::symlink(m_path.c_str(), temporary.c_str()) ||
            ::rename(temporary.c_str(), m_o.link.c_str()))
            return false;
    }
    m_flooding = m_o.flood;
    std::printf("%s\n", m_path.c_str());
    std::fflush(stdout);
    return true;
}

void Simulator::log(const char *direction, const std::uint8_t *f)
{
    if (!m_log) return;
    std::fprintf(m_log, "%.6f %s %02X %02X %02X %02X %02X\n", now(), direction, f[0], f[1], f[2],
                 f[3], f[4]);
    std::fflush(m_log);
}

void Simulator::received(const std::uint8_t *bytes, std::size_t n)
{
    // The adapter's own echo: on the line at once, whatever the processor's answers wait for.
    if (m_o.echo) [[maybe_unused]] const ssize_t echoed = ::write(m_master, bytes, n);
    m_input.insert(m_input.end(), bytes, bytes + n);
    std::size_t scan = 0;
    while (scan + zev::kFrameSize <= m_input.size()) {
        const std::uint8_t *candidate = m_input.data() + scan;
        if (zev::isFrameAt(candidate)) {
            log("rx", candidate);
            ++m_frames;
            ++m_clientFrames;
            if ((m_o.hangupAfter > 0 && m_clientFrames >= m_o.hangupAfter) ||
                (m_o.resetAfter > 0 && m_clientFrames >= m_o.resetAfter)) {
                dropClient(m_o.resetAfter > 0 && m_clientFrames >= m_o.resetAfter);
                return;
            }
            if (m_o.silentAfter <= 0 || m_frames <= m_o.silentAfter)
                answer(candidate[1], candidate[2]);
            scan += zev::kFrameSize;
        } else {
            ++scan;
        }
    }
    m_input.erase(m_input.begin(), m_input.begin() + static_cast<std::ptrdiff_t>(scan));
}

void Simulator::answer(std::uint8_t address, std::uint8_t value)
{
    auto reply = m_processor.receive(address, value);
    if (!reply || m_o.silent || chance(m_o.drop)) return;
    if (m_o.replyOther && value != zev::kCommandValue) {
        reply->address = std::uint8_t(address + 1);
        reply->value = std::uint8_t(m_processor.registers[reply->address] + 1);
    }
    const zev::FrameBytes frame = zev::encodeFrame(reply->address, reply->value);
    log("tx", frame.data());
    std::vector<std::uint8_t> bytes;
    for (long i = 0; i < m_o.telnetPrefix / 2; ++i) { // IAC NOP
        bytes.push_back(0xFF);
        bytes.push_back(0xF1);
    }
    if (chance(m_o.noise)) {
        const int count = 1 + int(m_random() % 8);
        for (int i = 0; i < count; ++i)
            bytes.push_back(randomByte());
    }
    const std::size_t start = bytes.size();
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    if (chance(m_o.corrupt))
        bytes[start + m_random() % zev::kFrameSize] ^= std::uint8_t(1 + m_random() % 255);
    const double due = now() + m_o.delay;
    if (m_o.split) {
        const std::size_t cut = start + 1 + m_random() % (zev::kFrameSize - 1);
        schedule(due, {bytes.begin(), bytes.begin() + std::ptrdiff_t(cut)});
        schedule(due + m_o.splitGap, {bytes.begin() + std::ptrdiff_t(cut), bytes.end()});
    } else {
        schedule(due, std::move(bytes));
    }
}

// With a baud rate every byte leaves on its own, one byte time after the one before.
void Simulator::schedule(double due, std::vector<std::uint8_t> bytes)
{
    if (m_o.baud <= 0) {
        m_output.push_back({due, std::move(bytes)});
        return;
    }
    const double byteTime = kBitsPerByte / m_o.baud;
    for (std::uint8_t byte : bytes) {
        m_lineFree = std::max(m_lineFree, due) + byteTime;
        m_output.push_back({m_lineFree, {byte}});
    }
}

void Simulator::flush()
{
    const double t = now();
    while (!m_output.empty() && m_output.front().due <= t) {
        std::vector<std::uint8_t> &bytes = m_output.front().bytes;
        const ssize_t n = ::write(m_master, bytes.data(), bytes.size());
        if (n < 0) return; // the terminal is full; poll says when it has room
        bytes.erase(bytes.begin(), bytes.begin() + n);
        if (!bytes.empty()) return;
        m_output.pop_front();
    }
}

void Simulator::dump()
{
    if (m_o.dump.empty()) return;
    const std::string temporary = m_o.dump + ".new";
    FILE *file = std::fopen(temporary.c_str(), "wb");
    if (!file) return;
    const bool ok = std::fwrite(m_processor.registers.data(), 1, m_processor.registers.size(),
                                file) == m_processor.registers.size();
    if (std::fclose(file) == 0 && ok && ::rename(temporary.c_str(), m_o.dump.c_str()) == 0) {
        std::printf("dumped %s\n", m_o.dump.c_str());
        std::fflush(stdout);
    }
}

void Simulator::command(const std::string &line)
{
    char word[16] = {};
    char argument[16] = {};
    std::sscanf(line.c_str(), "%15s %15s", word, argument);
    const std::string verb = word;
    const bool on = std::string(argument) == "on";
    if (verb == "send") {
        std::vector<std::uint8_t> bytes;
        const char *p = line.c_str() + 4;
        unsigned byte = 0;
        int used = 0;
        while (std::sscanf(p, " %2x%n", &byte, &used) == 1) {
            bytes.push_back(std::uint8_t(byte));
            p += used;
        }
        // Straight onto the line, before anything queued, so the test knows it arrived.
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += std::size_t(n);
            else {
                pollfd out{m_master, POLLOUT, 0};
                ::poll(&out, 1, 100);
            }
        }
        std::printf("sent %zu\n", bytes.size());
    } else if (verb == "silent") {
        m_o.silent = on;
        std::printf("ok\n");
    } else if (verb == "flood") {
        m_flooding = on;
        std::printf("ok\n");
    } else if (verb == "pause") {
        m_paused = on;
        // A pseudo-terminal takes far more than a real line holds; stopping its output makes
        // the panel's writes fail at once, as on a line held by flow control.
        tcflow(m_slave, on ? TCOOFF : TCOON);
        std::printf("ok\n");
    } else if (verb == "drop") {
        m_o.drop = std::atof(argument);
        std::printf("ok\n");
    } else if (verb == "dump") {
        dump();
    } else if (verb == "set") {
        unsigned address = 0, value = 0;
        if (std::sscanf(line.c_str(), "set %u %u", &address, &value) == 2 && address < 256 && value < 256) {
            m_processor.setAtUnit(std::uint8_t(address), std::uint8_t(value));
            std::printf("ok\n");
        } else {
            std::printf("set ADDRESS VALUE, each 0 to 255\n");
        }
    } else if (verb == "factory") {
        m_processor.forget();
        std::printf("ok\n");
    }
    std::fflush(stdout);
}

void Simulator::readCommands()
{
    char chunk[4096];
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n <= 0) {
        m_commandsOpen = false; // no more commands; keep answering the line
        return;
    }
    m_commandText.append(chunk, std::size_t(n));
    for (std::size_t end; (end = m_commandText.find('\n')) != std::string::npos;) {
        command(m_commandText.substr(0, end));
        m_commandText.erase(0, end + 1);
    }
}

int Simulator::run()
{
    while (!gStop) {
        if (gDump) {
            gDump = 0;
            dump();
        }
        if (gToggleFlood) {
            gToggleFlood = 0;
            m_flooding = !m_flooding;
        }
        flush();
        logLineSettings();
        pollfd fds[4] = {{m_master, short(m_paused ? 0 : POLLIN), 0},
                         {gWakePipe[0], POLLIN, 0},
                         {m_commandsOpen ? STDIN_FILENO : -1, POLLIN, 0},
                         {m_listen, POLLIN, 0}};
        // Output that is due waits for room in the terminal; later output waits for its time.
        const double wait = m_output.empty() ? -1 : m_output.front().due - now();
        if ((!m_output.empty() && wait <= 0) || m_flooding) fds[0].events |= POLLOUT;
        timespec limit{};
        if (wait > 0) {
            limit.tv_sec = time_t(wait);
            limit.tv_nsec = long((wait - double(limit.tv_sec)) * 1e9);
        }
        // Settings put on the terminal are seen within a tenth of a second.
        if (m_log && m_slave >= 0 && (wait <= 0 || wait > 0.1)) limit = {0, 100'000'000};
        const bool limited = wait > 0 || (m_log && m_slave >= 0);
        const int ready = ppoll(fds, 4, limited ? &limit : nullptr, nullptr);
        if (ready < 0 && errno != EINTR) return 1;
        if (fds[1].revents & POLLIN) {
            char drain[64];
            [[maybe_unused]] ssize_t ignored = ::read(gWakePipe[0], drain, sizeof drain);
        }
        if (fds[2].revents & (POLLIN | POLLHUP)) readCommands();
        if (fds[3].revents & POLLIN) accept();
        if (fds[0].revents & (POLLIN | POLLHUP)) {
            std::uint8_t bytes[4096];
            const ssize_t n = ::read(m_master, bytes, sizeof bytes);
            if (n > 0) {
                received(bytes, std::size_t(n));
            } else if (m_listen >= 0 && (n == 0 || errno != EAGAIN)) { // the client went
                ::close(m_master);
                m_master = -1;
            }
        }
        if (m_flooding && (fds[0].revents & POLLOUT) && m_output.empty()) {
            // Noise with a valid frame in it every 64 bytes or so, as a babbling device sends.
            std::uint8_t noise[kFloodChunk];
            for (std::uint8_t &b : noise)
                b = randomByte();
            for (int i = 0; i < kFloodChunk / 64; ++i) {
                const auto frame = zev::encodeFrame(randomByte(), randomByte());
                std::copy(frame.begin(), frame.end(), noise + m_random() % (kFloodChunk - 5));
            }
            [[maybe_unused]] ssize_t ignored = ::write(m_master, noise, sizeof noise);
        }
    }
    dump();
    if (!m_o.link.empty()) {
        char target[4096];
        const ssize_t n = ::readlink(m_o.link.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, std::size_t(n)) == m_path) ::unlink(m_o.link.c_str());
    }
    if (m_log) std::fclose(m_log);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) { // asked for, these are answers, not usage errors
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("zev720-sim %s\n", ZEV720_VERSION);
            return 0;
        }
    }
    Options options;
    if (!parse(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (pipe2(gWakePipe, O_CLOEXEC | O_NONBLOCK)) return 1;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2})
        sigaction(s, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Simulator simulator(options);
    if (!simulator.open()) {
        std::fprintf(stderr, "zev720-sim: %s\n", std::strerror(errno));
        return 1;
    }
    return simulator.run();
}
