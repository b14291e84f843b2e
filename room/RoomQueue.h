// Jobs on many rooms at once on one thread: every job started as soon as there is a place,
// at most `jobs` at once and never more than the open-file limit allows; a job that fails
// never stops the others. interrupt() ends the running jobs (each releases its processor)
// and starts no others: those end NotStarted.
#pragma once

#include "room/RoomJob.h"

#include <QObject>
#include <memory>
#include <vector>

namespace zev {

class RoomQueue : public QObject {
    Q_OBJECT
public:
    /// `jobs`: at most this many at once; 0 or less: as many as the open-file limit allows.
    RoomQueue(std::vector<RoomTask> tasks, int jobs, SerialLibrary &lines = systemSerialLibrary(),
              QObject *parent = nullptr);

    void start();
    void interrupt();
    bool interrupted() const { return m_interrupted; }
    bool over() const { return m_over; }

    std::size_t size() const { return m_jobs.size(); }
    const RoomJob &job(std::size_t index) const { return *m_jobs[index]; }
    /// Jobs at once as run; below what was asked when the open-file limit was the bound.
    int concurrency() const { return m_concurrency; }
    /// The limit on open files that bounded it (0 when it did not).
    int openFileLimit() const { return m_fileLimit; }

signals:
    void progress(std::size_t index);
    void finished(std::size_t index);
    /// Every job is over, or not started after an interrupt.
    void allOver();

private:
    void startMore();

    std::vector<std::unique_ptr<RoomJob>> m_jobs;
    std::size_t m_next = 0;     ///< the jobs started are those before it
    std::size_t m_finished = 0; ///< jobs over
    int m_running = 0;
    int m_concurrency = 0;
    int m_fileLimit = 0;
    bool m_interrupted = false;
    bool m_over = false;
};

} // namespace zev
