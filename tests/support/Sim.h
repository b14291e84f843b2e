// The processor emulator as a child process on a real pseudo-terminal.
#pragma once

#include "model/ParameterModel.h"

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace testing {

/// A frame as the emulator logged it.
struct LoggedFrame {
    double time;      ///< monotonic seconds
    bool received;    ///< rx: from the panel; tx: the emulator's reply
    QByteArray bytes; ///< the five bytes
    int address() const { return quint8(bytes[1]); }
    int value() const { return quint8(bytes[2]); }
};

class Sim {
public:
    /// Starts zev720-sim with the extra arguments (plus a log and a dump file of its own),
    /// through `wrapper` when one is given (a command that runs the rest of its arguments,
    /// such as "ip netns exec NAME").
    explicit Sim(const QStringList &arguments = {}, const QStringList &wrapper = {});
    ~Sim();
    Sim(const Sim &) = delete;
    Sim &operator=(const Sim &) = delete;

    /// The terminal side's path.
    QString path() const { return m_path; }
    /// Makes port number n reach this emulator (ZEV720_COM<n>).
    void becomePort(int n) const;
    /// Puts exact bytes on the line; returns once they are written.
    void send(const QByteArray &bytes);
    /// Sends one command line ("silent on", "flood off", ...) and waits for its answer.
    void command(const QString &line);
    /// The frames logged so far; `received` selects rx (true) or tx (false) lines.
    QList<LoggedFrame> frames(bool received = true) const;
    /// The line settings last put on its terminal, as it logs them ("19200 8N1"), or "".
    QString lineSettings() const;
    /// Waits until at least `count` frames were received, or `ms` passed.
    bool waitForFrames(int count, int ms = 2000) const;
    /// The emulator's registers, as it dumps them.
    zev::RegisterImage registers();
    /// Ends it (SIGTERM) and waits; the terminal is gone afterwards.
    void stop();
    qint64 pid() const { return m_process.processId(); }

private:
    QString readLine(int ms);
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_path;
};

/// The build folder, where zev720, zev720-sim and the tools are.
QString buildDir();

/// Runs a command in a fresh temporary working folder and goes back afterwards.
class WorkingFolder {
public:
    WorkingFolder();
    ~WorkingFolder();
    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

QByteArray hex(const char *text); ///< "FE 10 14 24 FD" to bytes

/// A file's bytes (empty when it cannot be read), and a file written whole.
QByteArray readFile(const QString &name);
bool writeFile(const QString &name, const QByteArray &bytes);

/// The addresses whose pending entry is not 0, ascending.
QList<int> pendingAddresses(const zev::ParameterModel &model);

} // namespace testing
