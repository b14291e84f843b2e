#include "room/RoomQueue.h"

#include "room/OpenFiles.h"

#include <QTimer>

namespace zev {

RoomQueue::RoomQueue(std::vector<RoomTask> tasks, int jobs, SerialLibrary &lines, QObject *parent)
    : QObject(parent)
{
    for (RoomTask &task : tasks)
        m_jobs.push_back(std::make_unique<RoomJob>(std::move(task), lines));
    const int wanted = jobs > 0 ? jobs : int(m_jobs.size());
    const OpenFileBudget budget = openFileBudget();
    m_concurrency = std::max(1, std::min(wanted, budget.lines));
    if (budget.lines < wanted) m_fileLimit = budget.limit;
    for (std::size_t i = 0; i < m_jobs.size(); ++i) {
        RoomJob *job = m_jobs[i].get();
        connect(job, &RoomJob::progress, this, [this, i] { emit progress(i); });
        connect(job, &RoomJob::finished, this, [this, i] {
            --m_running;
            ++m_finished;
            emit finished(i);
            startMore();
        });
    }
}

void RoomQueue::start()
{
    QTimer::singleShot(0, this, [this] { startMore(); });
}

void RoomQueue::interrupt()
{
    if (m_interrupted) return;
    m_interrupted = true;
    for (const auto &job : m_jobs)
        if (job->phase() != RoomJob::Phase::Waiting) job->cancel();
    startMore();
}

void RoomQueue::startMore()
{
    while (!m_interrupted && m_running < m_concurrency && m_next < m_jobs.size()) {
        ++m_running;
        m_jobs[m_next++]->start();
    }
    // Counted, not looked for: a venue of thousands costs the same per room as one of ten.
    // After an interrupt the rooms not started stay so; the others all finish.
    const std::size_t due = m_interrupted ? m_next : m_jobs.size();
    if (m_over || m_finished < due) return;
    m_over = true;
    QTimer::singleShot(0, this, [this] { emit allOver(); });
}

} // namespace zev
