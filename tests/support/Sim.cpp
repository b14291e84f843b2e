#include "support/Sim.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <csignal>

namespace testing {

QString buildDir()
{
    const QByteArray fromTest = qgetenv("ZEV720_BUILD_DIR");
    return fromTest.isEmpty() ? QStringLiteral(ZEV_BUILD_DIR) : QString::fromLocal8Bit(fromTest);
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QByteArray readFile(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QList<int> pendingAddresses(const zev::ParameterModel &model)
{
    QList<int> marked;
    for (int a = 0; a < 256; ++a)
        if (model.pending[a]) marked << a;
    return marked;
}

Sim::Sim(const QStringList &arguments, const QStringList &wrapper)
{
    const QStringList own =
        QStringList{"--log", m_dir.filePath("log"), "--dump", m_dir.filePath("dump")} + arguments;
    m_process.setProgram(wrapper.isEmpty() ? buildDir() + "/zev720-sim" : wrapper.first());
    m_process.setArguments(
        wrapper.isEmpty() ? own : wrapper.mid(1) + QStringList{buildDir() + "/zev720-sim"} + own);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start();
    if (!m_process.waitForStarted(5000)) qFatal("zev720-sim does not start");
    m_path = readLine(5000);
    if (m_path.isEmpty()) qFatal("zev720-sim printed no terminal path");
}

Sim::~Sim()
{
    stop();
}

QString Sim::readLine(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!m_process.canReadLine() && clock.elapsed() < ms)
        if (!m_process.waitForReadyRead(ms - int(clock.elapsed()))) break;
    return QString::fromLocal8Bit(m_process.readLine()).trimmed();
}

void Sim::becomePort(int n) const
{
    qputenv(qPrintable(QString("ZEV720_COM%1").arg(n)), m_path.toLocal8Bit());
}

void Sim::send(const QByteArray &bytes)
{
    command("send " + QString::fromLatin1(bytes.toHex(' ')));
}

void Sim::command(const QString &line)
{
    m_process.write((line + '\n').toLocal8Bit());
    m_process.waitForBytesWritten(2000);
    readLine(5000);
}

QList<LoggedFrame> Sim::frames(bool received) const
{
    QList<LoggedFrame> result;
    QFile file(m_dir.filePath("log"));
    if (!file.open(QIODevice::ReadOnly)) return result;
    while (!file.atEnd()) {
        const QList<QByteArray> parts = file.readLine().trimmed().split(' ');
        if (parts.size() != 7 || (parts[1] == "rx") != received) continue;
        LoggedFrame frame{parts[0].toDouble(), received, {}};
        for (int i = 2; i < 7; ++i)
            frame.bytes.append(char(parts[i].toInt(nullptr, 16)));
        result << frame;
    }
    return result;
}

QString Sim::lineSettings() const
{
    QFile file(m_dir.filePath("log"));
    QString last;
    if (!file.open(QIODevice::ReadOnly)) return last;
    while (!file.atEnd()) {
        const QString line = QString::fromLatin1(file.readLine()).trimmed();
        const qsizetype at = line.indexOf(" line ");
        if (at > 0) last = line.mid(at + 6);
    }
    return last;
}

bool Sim::waitForFrames(int count, int ms) const
{
    QElapsedTimer clock;
    clock.start();
    while (frames().size() < count) {
        if (clock.elapsed() > ms) return false;
        QTest::qSleep(2);
    }
    return true;
}

zev::RegisterImage Sim::registers()
{
    command("dump");
    zev::RegisterImage image{};
    QFile file(m_dir.filePath("dump"));
    if (file.open(QIODevice::ReadOnly))
        file.read(reinterpret_cast<char *>(image.data()), qint64(image.size()));
    return image;
}

void Sim::stop()
{
    if (m_process.state() == QProcess::NotRunning) return;
    m_process.closeWriteChannel();
    ::kill(pid_t(m_process.processId()), SIGTERM);
    if (!m_process.waitForFinished(5000)) m_process.kill();
    m_process.waitForFinished(1000);
}

WorkingFolder::WorkingFolder() : m_previous(QDir::currentPath())
{
    QDir::setCurrent(m_dir.path());
}

WorkingFolder::~WorkingFolder()
{
    QDir::setCurrent(m_previous);
}

} // namespace testing
