#include "service/Clock.h"

#include <QFile>
#include <cstdlib>

namespace zev {

std::string Clock::nowText() const
{
    return now().toUTC().toString(Qt::ISODateWithMs).toStdString();
}

QDateTime FileClock::now() const
{
    QFile file(QString::fromStdString(m_path));
    if (file.open(QIODevice::ReadOnly)) {
        const QDateTime read =
            QDateTime::fromString(QString::fromUtf8(file.read(64)).trimmed(), Qt::ISODateWithMs);
        if (read.isValid()) return read.toUTC();
    }
    return QDateTime::currentDateTimeUtc();
}

const Clock &processClock()
{
    static const SystemClock system;
    static const char *const path = std::getenv("ZEV720D_CLOCK_FILE");
    static const FileClock file(path ? path : "");
    return path && *path ? static_cast<const Clock &>(file) : system;
}

} // namespace zev
