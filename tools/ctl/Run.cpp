// Running room jobs for zev720ctl, and what it prints.
#include "Ctl.h"
#include "StandardOutput.h"

#include "files/ParameterFile.h"
#include "link/EndSignals.h"
#include "model/Shown.h"
#include "files/TextFile.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace ctl {
namespace {

// How often a run looks whether its standard output was closed.
constexpr int kOutputCheckMs = 50;

bool endedFlag = false;
std::function<void()> &interruptSlot()
{
    static std::function<void()> interrupt;
    return interrupt;
}

void endRun()
{
    if (endedFlag) return;
    endedFlag = true;
    if (const std::function<void()> interrupt = interruptSlot()) interrupt();
}

} // namespace

namespace {
zev::Language &languageSlot()
{
    static zev::Language language = zev::Language::Chinese;
    return language;
}
} // namespace

zev::Language outputLanguage()
{
    return languageSlot();
}

void setOutputLanguage(zev::Language language)
{
    languageSlot() = language;
}

int exitCodeOf(zev::Outcome outcome)
{
    switch (outcome) {
    case zev::Outcome::Ok:
        return kOk;
    case zev::Outcome::Differs:
        return kDifferent;
    case zev::Outcome::NotStarted:
    case zev::Outcome::Interrupted:
        return kInterrupted;
    case zev::Outcome::BadLine:
        return kUsage;
    default:
        return kLinkFailed;
    }
}

QString outcomeText(const zev::RoomReport &report, const QString &line)
{
    // The caller names the line before this text: a detail that starts with it says it once.
    QString detail = inEnglish(QString::fromStdString(report.detail));
    for (const QString &name : {line, QString::fromStdString(report.device)})
        if (!name.isEmpty() && detail.startsWith(name + ": ")) detail = detail.mid(name.size() + 2);
    const QString name = zev::outcomeName(report.outcome);
    switch (report.outcome) {
    case zev::Outcome::PermissionDenied:
        if (!report.group.empty())
            return QString("cannot open: permission denied (join the group %1: sudo adduser $USER "
                           "%1, then log in again)")
                .arg(QString::fromStdString(report.group));
        if (!report.owner.empty())
            return QString("cannot open: permission denied (only the user %1 may read and write "
                           "it; no group may)")
                .arg(QString::fromStdString(report.owner));
        return "cannot open: permission denied";
    case zev::Outcome::NoSuchDevice:
    case zev::Outcome::HeldElsewhere:
    case zev::Outcome::HeldHere:
    case zev::Outcome::UnknownHost:
    case zev::Outcome::Refused:
    case zev::Outcome::NoAnswer:
        return "cannot open: " + (detail.isEmpty() ? name : detail);
    case zev::Outcome::ProcessorSilent:
        return "no answer from the processor (switched off, or another rate?)";
    case zev::Outcome::BadLine:
    case zev::Outcome::Failed:
        return detail.isEmpty() ? zev::outcomeName(report.outcome) : detail;
    default:
        break;
    }
    return detail.isEmpty() ? name : name + ": " + detail;
}

QString phaseText(zev::RoomJob::Phase phase)
{
    switch (phase) {
    case zev::RoomJob::Phase::Waiting:
        return "waiting";
    case zev::RoomJob::Phase::Opening:
        return "opening";
    case zev::RoomJob::Phase::Connecting:
        return "connecting";
    case zev::RoomJob::Phase::Reading:
        return "reading";
    case zev::RoomJob::Phase::Writing:
        return "writing";
    case zev::RoomJob::Phase::Verifying:
        return "verifying";
    case zev::RoomJob::Phase::Locking:
        return "locking";
    case zev::RoomJob::Phase::Releasing:
        return "releasing";
    case zev::RoomJob::Phase::Over:
        break;
    }
    return "over";
}

void watchForEnd(std::function<void()> interrupt)
{
    interruptSlot() = std::move(interrupt);
    static bool watching = false;
    if (watching) return;
    watching = true;
    ignoreBrokenPipe();
    zev::onEndSignal(endRun);
    auto *check = new QTimer(QCoreApplication::instance());
    QObject::connect(check, &QTimer::timeout, [] {
        if (standardOutputClosed()) endRun();
    });
    check->start(kOutputCheckMs);
}

bool ended()
{
    return endedFlag;
}

void runJobs(const std::vector<zev::RoomJob *> &jobs)
{
    QEventLoop loop;
    int left = int(jobs.size());
    for (zev::RoomJob *job : jobs)
        QObject::connect(job, &zev::RoomJob::finished, &loop, [&] {
            if (--left == 0) loop.quit();
        });
    watchForEnd([&jobs] {
        for (zev::RoomJob *job : jobs)
            job->cancel();
    });
    for (zev::RoomJob *job : jobs)
        job->start();
    if (ended())
        for (zev::RoomJob *job : jobs)
            job->cancel();
    if (left > 0) loop.exec();
    watchForEnd({});
}

namespace {

QByteArray &waitingOutput()
{
    static QByteArray bytes;
    return bytes;
}

// As much as the reader takes now; the rest is tried again from the event loop.
void writeWaiting()
{
    static QTimer *retry = nullptr;
    QByteArray &bytes = waitingOutput();
    while (!bytes.isEmpty()) {
        const long n = writeWithoutWaiting(bytes.constData(), long(bytes.size()));
        if (n < 0) { // nobody reads any more: the run ends as an interrupt ends it
            bytes.clear();
            endRun();
            return;
        }
        if (n == 0) break;
        bytes.remove(0, qsizetype(n));
    }
    if (bytes.isEmpty() || !QCoreApplication::instance()) return;
    if (!retry) {
        retry = new QTimer(QCoreApplication::instance());
        retry->setSingleShot(true);
        QObject::connect(retry, &QTimer::timeout, [] { writeWaiting(); });
    }
    if (!retry->isActive()) retry->start(kOutputCheckMs);
}

void keep(const QByteArray &text)
{
    static bool cut = false;
    QByteArray &bytes = waitingOutput();
    if (bytes.size() + text.size() > kMaxWaitingOutput) {
        if (!cut) complain("standard output is not read: the rest of the report is left out");
        cut = true;
        return;
    }
    bytes += text;
    writeWaiting();
}

} // namespace

void print(const QString &line)
{
    keep(line.toUtf8() + '\n'); // UTF-8 everywhere; a console gets it as wide characters
}

void printRaw(const QByteArray &bytes)
{
    keep(bytes);
}

void finishOutput()
{
    // The rooms are released by now; what is left goes out as the reader takes it, unless an
    // end signal comes first.
    watchForEnd({});
    while (!waitingOutput().isEmpty() && !ended()) {
        const qsizetype before = waitingOutput().size();
        writeWaiting();
        if (waitingOutput().size() == before)
            QCoreApplication::processEvents(QEventLoop::AllEvents, kOutputCheckMs);
    }
}

void complain(const QString &message)
{
    const QByteArray line = "zev720ctl: " + message.toUtf8() + '\n';
    writeStandardError(line.constData(), long(line.size()));
}

std::string readText(const QString &path, std::size_t limit)
{
    std::string text, error;
    // Only a file is read: standard input, a pipe or a device would be waited on.
    const zev::FileKind kind = zev::fileKind(path.toStdString());
    if (kind == zev::FileKind::Folder || kind == zev::FileKind::Other)
        throw Failure(kFileFailed, printable(path) + ": not a regular file (give a file, not " +
                                       (kind == zev::FileKind::Folder ? "a folder"
                                                                      : "standard input, a pipe or a device") +
                                       ")");
    switch (zev::readTextFile(path.toStdString(), limit, text, error)) {
    case zev::TextFileStatus::Missing:
        throw Failure(kFileFailed, printable(path) + ": cannot read: No such file or directory");
    case zev::TextFileStatus::Failed:
        throw Failure(kFileFailed, printable(inEnglish(QString::fromStdString(error))));
    case zev::TextFileStatus::Read:
        break;
    }
    return text;
}

QString inEnglish(const QString &text)
{
    QString english = text;
    return english.replace(zev::kNotARegularFile, "not a regular file");
}

QString printable(const QString &text)
{
    QString shown;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        // Marks that turn text around on a terminal ("A\u202e" would show a name backwards).
        const bool bidi = u == 0x061C || u == 0x200E || u == 0x200F ||
                          (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0))
            shown += QString("\\x%1").arg(u, 2, 16, QChar('0'));
        else if (bidi)
            shown += QString("\\u%1").arg(u, 4, 16, QChar('0'));
        else
            shown += c;
    }
    return shown;
}

Progress::Progress(const QString &what, int total)
    : m_what(what), m_total(total), m_terminal(::isatty(STDERR_FILENO) == 1)
{
}

Progress::~Progress()
{
    if (m_terminal) writeStandardError("\r\033[K", 4);
}

void Progress::show(int done, int total, const QString &phase)
{
    if (!phase.isEmpty()) m_what = phase;
    if (total > 0) m_total = total;
    if (!m_terminal || m_total <= 0) return;
    // One line whatever the terminal's width: the bar shrinks, and goes in a narrow pane.
    constexpr int kMostWidth = 30, kCounts = 12;
    const int width =
        std::min(kMostWidth, terminalColumns() - int(m_what.size()) - kCounts);
    const int filled = width > 0 ? width * done / m_total : 0;
    QString line;
    if (width >= 5)
        line = QString("\r\033[K%1 [%2%3] %4/%5")
                   .arg(m_what, QString(filled, '#'), QString(width - filled, '.'))
                   .arg(done)
                   .arg(m_total);
    else
        line = QString("\r\033[K%1 %2/%3").arg(m_what).arg(done).arg(m_total);
    const QByteArray bytes = line.toUtf8();
    writeStandardError(bytes.constData(), long(bytes.size()));
}

void readParameters(const QString &path, zev::ParameterModel &model)
{
    std::string error;
    switch (zev::readWholeParameterFile(path.toStdString(), model, error)) {
    case zev::ReadStatus::Read:
        return;
    case zev::ReadStatus::Missing:
        throw Failure(kFileFailed, path + ": cannot read: No such file or directory");
    case zev::ReadStatus::Failed:
        throw Failure(kFileFailed, inEnglish(QString::fromStdString(error)));
    }
}

void writeParameters(const QString &path, const zev::ParameterModel &model)
{
    std::string error;
    if (!zev::writeParameterFile(path.toStdString(), model, error))
        throw Failure(kFileFailed, inEnglish(QString::fromStdString(error)));
}

void checkPushable(const QString &path, const zev::ParameterModel &model, bool raw)
{
    if (raw) return;
    for (const zev::RegisterRow &row : zev::registerMap())
        if (!zev::controlShows(row, model.image[row.address]))
            throw Failure(kFileFailed,
                          printable(path) + ": " + QString::fromStdString(zev::machineName(row)) +
                              " holds " + QString::number(model.image[row.address]) +
                              ", a value that no control shows; push --raw writes it as it is");
}

} // namespace ctl
