#include "link/OpenReplies.h"

#include <QEventLoop>
#include <QTimer>

namespace zev {
namespace {
// How long past the layer's own deadline a waiting open gives up on it.
constexpr int kOpenGraceMs = 500;
} // namespace

void OpenReplies::later(int port, SerialLibrary::OpenDone done, OpenOutcome outcome)
{
    auto token = std::make_unique<QObject>();
    QObject *raw = token.get();
    m_waiting[port] = std::move(token);
    QTimer::singleShot(0, raw, [this, port, raw, done = std::move(done), outcome] {
        const auto it = m_waiting.find(port);
        if (it != m_waiting.end() && it->second.get() == raw) {
            it->second.release()->deleteLater();
            m_waiting.erase(it);
        }
        done(outcome);
    });
}

bool OpenReplies::cancel(int port)
{
    return m_waiting.erase(port) > 0;
}

OpenOutcome waitForOpen(SerialLibrary &layer, int port)
{
    OpenOutcome result;
    bool over = false;
    QEventLoop loop;
    layer.startOpen(port, [&](const OpenOutcome &outcome) {
        result = outcome;
        over = true;
        loop.quit();
    });
    if (!over) {
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
            layer.closePort(port);
            result = {LineResult::NoAnswer, {}, {}, "no answer"};
            over = true;
            loop.quit();
        });
        deadline.start(kOpenDeadlineMs + kOpenGraceMs);
        while (!over)
            loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return result;
}

} // namespace zev
