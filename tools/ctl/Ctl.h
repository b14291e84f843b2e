// zev720ctl's shared pieces: exit codes, errors, printing, progress, and running room jobs
// until they are over or the user ends the run. The jobs themselves are the room engine's.
#pragma once

#include "model/English.h"
#include "model/ParameterModel.h"
#include "room/RoomJob.h"

#include <QString>
#include <QStringList>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace ctl {

/// The language of the register names and shown values in lines for people (--lang,
/// ZEV720_LANG; Chinese, the panel's, unless told). The rest of the output is English.
zev::Language outputLanguage();
void setOutputLanguage(zev::Language language);

/// Exit codes that scripts rely on.
enum Exit {
    kOk = 0,          ///< done; for diff: no difference
    kDifferent = 1,   ///< diff found a difference; push left registers that differ
    kUsage = 2,       ///< the command line is wrong
    kLinkFailed = 3,  ///< the port did not open, the processor did not answer, a transfer failed
    kFileFailed = 4,  ///< a file could not be read, parsed or written
    kInterrupted = 5, ///< SIGINT, SIGTERM or a closed standard output ended it (released)
};

/// An error that ends the command: the message (already naming the port or file) and the code.
struct Failure : std::runtime_error {
    Failure(int code, const QString &message)
        : std::runtime_error(message.toStdString()), exitCode(code)
    {
    }
    int exitCode;
};

/// The exit code of a job's outcome.
int exitCodeOf(zev::Outcome outcome);
/// "no answer from the processor (switched off, or another rate?)", "permission denied (join
/// the group dialout: ...)": the outcome in a line for people, with its detail.
/// A detail that begins with `line` or the device it stands for does not name it again.
QString outcomeText(const zev::RoomReport &report, const QString &line = {});

/// "reading", "verifying": a job's phase in a word.
QString phaseText(zev::RoomJob::Phase phase);

/// Runs the jobs to their end on the event loop (all at once); SIGINT, SIGTERM, SIGHUP or a
/// closed standard output cancel them, and each then releases its processor.
void runJobs(const std::vector<zev::RoomJob *> &jobs);
/// From now on an end signal or a closed standard output calls `interrupt` (once).
void watchForEnd(std::function<void()> interrupt);
/// True once the run was told to end.
bool ended();

/// Writes to standard output; a closed standard output ends the run as an interrupt does.
/// What a reader does not take yet waits in memory (kMaxWaitingOutput at most) while the run
/// goes on: a reader that stopped reading never holds up the rooms or an interrupt.
void print(const QString &line);
void printRaw(const QByteArray &bytes);
/// At the end: what waits is written, for as long as a reader takes it and no end signal
/// comes.
void finishOutput();
/// Report bytes kept for a reader that does not read; beyond them the report is cut short.
constexpr qsizetype kMaxWaitingOutput = 16 * 1024 * 1024;
/// Errors go to standard error as "zev720ctl: what: reason".
void complain(const QString &message);
/// The file layer's words, which are the panel's (Chinese), in this program's language.
QString inEnglish(const QString &text);
/// Text from outside (room names, lines) with control characters shown as \xNN.
QString printable(const QString &text);

/// A progress line on standard error while it is a terminal; nothing otherwise.
class Progress {
public:
    Progress(const QString &what, int total);
    ~Progress();
    /// `done` of the total so far; a new `phase` ("verifying") or total replaces the old.
    void show(int done, int total = 0, const QString &phase = {});

private:
    QString m_what;
    int m_total;
    bool m_terminal;
};

/// A text file read whole: a regular file of at most `limit` bytes, else a Failure naming it.
std::string readText(const QString &path, std::size_t limit);
/// Reads a parameter file whole into `model`: a missing, unreadable or wrong-sized file is a
/// Failure.
void readParameters(const QString &path, zev::ParameterModel &model);
/// Writes it whole or not at all: a Failure otherwise.
void writeParameters(const QString &path, const zev::ParameterModel &model);
/// A push of the file's registers would send a value that no control shows: a Failure naming
/// the register and the value, unless `raw` (push --raw sends them as they are).
void checkPushable(const QString &path, const zev::ParameterModel &model, bool raw);

/// What each port number and serial device stands for; with `probe`, each is tried, all at once.
int listPorts(bool probe, const zev::LineOptions &options, bool json);

/// `zev720ctl venue FILE OPERATION [ARGUMENT]`: every room in parallel; the exit code.
int runVenue(const QStringList &positional, const zev::LineOptions &options, int jobs, bool json,
             bool noVerify, bool raw);

} // namespace ctl
