// Running room jobs for zev720ctl, and what it prints.
#include "Ctl.h"
#include "StandardOutput.h"

#include "files/ParameterFile.h"
#include "link/EndSignals.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <cerrno>
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

// A write that failed because nobody reads any more ends the run like an interrupt.
void wrote(int result)
{
    if (result < 0 && errno == EPIPE) endRun();
}

} // namespace

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

QString outcomeText(const zev::RoomReport &report)
{
    const QString detail = QString::fromStdString(report.detail);
    const QString name = zev::outcomeName(report.outcome);
    switch (report.outcome) {
    case zev::Outcome::PermissionDenied: {
        const QString group =
            QString::fromStdString(report.group.empty() ? "dialout" : report.group);
        return QString("cannot open: permission denied (join the group %1: sudo adduser $USER %1, "
                       "then log in again)")
            .arg(group);
    }
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

void print(const QString &line)
{
    wrote(std::puts(line.toLocal8Bit().constData()));
    wrote(std::fflush(stdout));
}

void printRaw(const QByteArray &bytes)
{
    wrote(std::fputs(bytes.constData(), stdout));
    wrote(std::fflush(stdout));
}

void complain(const QString &message)
{
    std::fprintf(stderr, "zev720ctl: %s\n", message.toLocal8Bit().constData());
}

QString printable(const QString &text)
{
    QString shown;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F ||
            (c.unicode() >= 0x80 && c.unicode() < 0xA0))
            shown += QString("\\x%1").arg(c.unicode(), 2, 16, QChar('0'));
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

void readParameters(const QString &path, zev::ParameterModel &model)
{
    std::string error;
    switch (zev::readWholeParameterFile(path.toStdString(), model, error)) {
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
