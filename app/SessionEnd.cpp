#include "app/SessionEnd.h"
#include "ui/ErrorBox.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int wakeSockets[2] = {-1, -1};

// Only what is safe in a signal handler: one byte into a socket.
void onSessionEnd(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wakeSockets[0], &byte, 1);
}
} // namespace

void closeOnSessionEnd(std::function<void()> close)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wakeSockets)) return;
    auto *notifier =
        new QSocketNotifier(wakeSockets[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [close = std::move(close)] {
        char drain[16];
        [[maybe_unused]] const ssize_t ignored = ::read(wakeSockets[1], drain, sizeof drain);
        endOfSessionErrors();
        close();
    });
    struct sigaction action {};
    action.sa_handler = onSessionEnd;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}
