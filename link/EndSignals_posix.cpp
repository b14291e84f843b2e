#include "link/EndSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace zev {
namespace {

int wakeSockets[2] = {-1, -1};
volatile std::sig_atomic_t signalled = 0;
std::function<void()> &handlerSlot()
{
    static std::function<void()> handler;
    return handler;
}

// Only what is safe in a signal handler: a flag and one byte into a socket.
void onSignal(int)
{
    signalled = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wakeSockets[0], &byte, 1);
}

} // namespace

void onEndSignal(std::function<void()> handler)
{
    handlerSlot() = std::move(handler);
    if (wakeSockets[0] >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wakeSockets)) return;
    auto *notifier =
        new QSocketNotifier(wakeSockets[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char drain[16];
        [[maybe_unused]] const ssize_t ignored = ::read(wakeSockets[1], drain, sizeof drain);
        if (const std::function<void()> call = handlerSlot()) call();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

bool endSignalled()
{
    return signalled != 0;
}

void endWorkDone()
{
    // Signals wait for nothing here: the event loop ends the program when its work is over.
}

} // namespace zev
