// The wall clock of the venue service: the time of day that limits and schedules follow, and
// the time the journal writes. The server asks it again at every look (a clock the system
// changed, a machine that slept, is simply a new answer), and tests give it the time they
// want.
//
//   SystemClock  the system's time in the system's zone (TZ)
//   FileClock    the time a file holds ("2026-03-29T00:59:00Z"), read at every look, in the
//                system's zone: the server's tests move it forward by writing the file
#pragma once

#include <QDateTime>
#include <QTimeZone>
#include <string>

namespace zev {

class Clock {
public:
    virtual ~Clock() = default;
    /// Now, as a UTC date and time.
    virtual QDateTime now() const = 0;
    /// The zone the time of day is told in.
    virtual QTimeZone zone() const { return QTimeZone::systemTimeZone(); }
    /// Now, in ISO 8601 UTC with milliseconds, as the journal writes it.
    std::string nowText() const;
};

class SystemClock : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }
};

class FileClock : public Clock {
public:
    explicit FileClock(std::string path) : m_path(std::move(path)) {}
    /// The file's time; the system's when the file holds none.
    QDateTime now() const override;

private:
    std::string m_path;
};

/// The clock a process runs on: a FileClock when ZEV720D_CLOCK_FILE names a file (the tests'),
/// else the system's.
const Clock &processClock();

} // namespace zev
