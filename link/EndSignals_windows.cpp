#include "link/EndSignals.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaObject>
#include <atomic>
#include <windows.h>

namespace zev {
namespace {

std::atomic<bool> signalled{false};
std::atomic<bool> finished{false};

std::function<void()> &handlerSlot()
{
    static std::function<void()> handler;
    return handler;
}

void callHandler()
{
    if (const std::function<void()> call = handlerSlot()) call();
}

// The handler has done its work once the program says so (endWorkDone) or starts to quit; until
// then, for as long as the system grants (about 5 s for a console, longer for a session's end),
// the events go on.
void runUntilQuit(int milliseconds)
{
    const QDeadlineTimer deadline(milliseconds);
    while (!finished && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

// Ctrl+C, Ctrl+Break, the console window closed, logoff and shutdown. Windows calls this on a
// thread of its own; the work is done by the event loop's thread.
BOOL WINAPI onConsoleEvent(DWORD type)
{
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        break;
    default:
        return FALSE;
    }
    if (!signalled.exchange(true) && QCoreApplication::instance())
        QMetaObject::invokeMethod(QCoreApplication::instance(), callHandler, Qt::QueuedConnection);
    // For a closed console, logoff and shutdown the process ends as soon as this returns: wait
    // here until the program has ended its work (its exit ends this thread too).
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) {
        for (int i = 0; i < 100 && !finished; ++i)
            ::Sleep(50);
    }
    return TRUE;
}

// A window's program hears of the session's end by message: WM_QUERYENDSESSION asks (yes: the
// processor is released either way), WM_ENDSESSION tells, and the process may end as soon as
// it is answered, so the work is done before the answer.
class SessionEndFilter : public QAbstractNativeEventFilter
{
public:
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *result) override
    {
        if (type != "windows_generic_MSG") return false;
        const MSG *msg = static_cast<const MSG *>(message);
        if (msg->message == WM_QUERYENDSESSION) {
            *result = TRUE;
            return true;
        }
        if (msg->message == WM_ENDSESSION && msg->wParam) {
            if (!signalled.exchange(true)) {
                callHandler();
                runUntilQuit(4000);
            }
            *result = 0;
            return true;
        }
        return false;
    }
};

} // namespace

void onEndSignal(std::function<void()> handler)
{
    handlerSlot() = std::move(handler);
    static bool installed = false;
    if (installed) return;
    installed = true;
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    QCoreApplication *app = QCoreApplication::instance();
    app->installNativeEventFilter(new SessionEndFilter);
    QObject::connect(app, &QCoreApplication::aboutToQuit, [] { finished = true; });
}

bool endSignalled()
{
    return signalled;
}

void endWorkDone()
{
    finished = true;
}

} // namespace zev
