#include "link/Readiness.h"

#include <QCoreApplication>

namespace zev {

void Readiness::watch(std::function<void()> ready)
{
    m_state->ready = std::move(ready);
}

void Readiness::notify()
{
    if (!m_state->ready || m_state->posted || !QCoreApplication::instance()) return;
    m_state->posted = true;
    // The state, not the line, is held by the call: a line closed meanwhile makes it a no-op,
    // and the watcher may close the line (and so end this object) while it runs.
    std::weak_ptr<State> weak = m_state;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [weak] {
            const std::shared_ptr<State> state = weak.lock();
            if (!state) return;
            state->posted = false;
            if (!state->ready) return;
            const std::function<void()> ready = state->ready;
            ready();
        },
        Qt::QueuedConnection);
}

} // namespace zev
