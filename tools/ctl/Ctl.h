// zev720ctl's shared pieces: exit codes, errors, the processor's line, progress.
#pragma once

#include "link/LinkSession.h"
#include "model/ParameterModel.h"
#include "settings/PortSettings.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <stdexcept>
#include <string>

namespace ctl {

/// Exit codes that scripts rely on.
enum Exit {
    kOk = 0,          ///< done; for diff: no difference
    kDifferent = 1,   ///< diff found a difference; push left registers that differ
    kUsage = 2,       ///< the command line is wrong
    kLinkFailed = 3,  ///< the port did not open, the processor did not answer, a transfer failed
    kFileFailed = 4,  ///< a file could not be read, parsed or written
    kInterrupted = 5, ///< SIGINT or SIGTERM ended it (the processor was released)
};

/// An error that ends the command: the message (already naming the port or file) and the code.
struct Failure : std::runtime_error {
    Failure(int code, const QString &message)
        : std::runtime_error(message.toStdString()), exitCode(code)
    {
    }
    int exitCode;
};

/// Line options given on the command line; unset fields come from ZEV720.cfg or 9600 8N1.
struct LineOptions {
    int baud = -1;     ///< rate in baud
    int dataBits = -1; ///< 5 to 8
    QString parity;    ///< none, even, odd, mark, space
    int stopBits = -1; ///< 1 or 2
    QString flow;      ///< none, hardware, software
};

/// The port number for a port argument: a number as given, or a number of its own for a
/// device path or a network line.
int portNumberOf(const QString &text);
/// The line settings: ZEV720.cfg, else 9600 8N1, then the options.
zev::PortSettings lineFor(int port, const LineOptions &options);
/// Why the last open of a port failed, for people.
QString whyNotOpened(int port);

/// `zev720ctl venue FILE OPERATION [ARGUMENT]`: every room in parallel; the exit code.
int runVenue(const QStringList &positional, const LineOptions &options, int jobs, bool json,
             bool noVerify);

/// True when `text` names a port (a number, a device path) rather than a parameter file.
bool looksLikePort(const QString &text);

/// A processor reached through a port: opened, connected, and released when it goes.
class Processor {
public:
    Processor(const QString &port, const LineOptions &options);
    ~Processor(); ///< disconnect and close, whatever happened
    zev::LinkSession &session() { return *m_session; }
    const QString &port() const { return m_port; }

    /// Reads the transfer set back into `image`; throws when a register gave no answer.
    void readBack(zev::RegisterImage &image, const QString &what);

private:
    QString m_port;
    std::unique_ptr<zev::LinkSession> m_session;
};

/// What each port number and serial device stands for; with `probe`, each is tried.
int listPorts(bool probe, const LineOptions &options, bool json);

/// A progress line on standard error while it is a terminal; nothing otherwise.
class Progress {
public:
    Progress(const QString &what, int total);
    ~Progress();
    void show(int done);

private:
    QString m_what;
    int m_total;
    bool m_terminal;
};

/// Set by SIGINT or SIGTERM; the transfer running then ends after its current frame.
bool interrupted();
void watchInterrupts(zev::LinkSession *session);

/// Errors go to standard error as "zev720ctl: what: reason".
void complain(const QString &message);

/// Reads a parameter file whole into `model`: a missing or unreadable file is a Failure.
void readParameters(const QString &path, zev::ParameterModel &model);
/// Writes it whole or not at all: a Failure otherwise.
void writeParameters(const QString &path, const zev::ParameterModel &model);

} // namespace ctl
