#include "link/Resolver.h"
#include "link/SystemLookup.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <thread>


namespace zev {
namespace {

struct Waiter {
    QPointer<QObject> context;
    std::function<void(const LookupResult &)> done;
};

// Lookups under way, by name; the main thread alone touches this.
std::map<std::string, std::vector<Waiter>> &underWay()
{
    static std::map<std::string, std::vector<Waiter>> byName;
    return byName;
}

// Where the threads hand their answers over. The object and the flag outlive every thread:
// once the application object is going, answers are dropped.
std::mutex handOverLock;
QObject *handOver = nullptr;
bool applicationGone = false;

void deliver(const std::string &host, const LookupResult &result)
{
    auto it = underWay().find(host);
    if (it == underWay().end()) return;
    std::vector<Waiter> waiters = std::move(it->second);
    underWay().erase(it);
    for (Waiter &waiter : waiters)
        if (waiter.context) waiter.done(result);
}

} // namespace

void lookupHost(const std::string &host, QObject *context,
                std::function<void(const LookupResult &)> done)
{
    QHostAddress literal;
    if (literal.setAddress(QString::fromStdString(host))) {
        LookupResult result;
        result.addresses.push_back(literal);
        QTimer::singleShot(0, context, [done = std::move(done), result] { done(result); });
        return;
    }
    {
        std::lock_guard<std::mutex> lock(handOverLock);
        if (!handOver) {
            handOver = new QObject; // lives as long as the program
            qAddPostRoutine([] {
                std::lock_guard<std::mutex> gone(handOverLock);
                applicationGone = true;
            });
        }
    }
    auto &waiters = underWay()[host];
    waiters.push_back({context, std::move(done)});
    if (waiters.size() > 1) return; // a thread asks already
    std::thread([host] {
        const LookupResult result = systemLookup(host);
        std::lock_guard<std::mutex> lock(handOverLock);
        if (applicationGone) return;
        QMetaObject::invokeMethod(
            handOver, [host, result] { deliver(host, result); }, Qt::QueuedConnection);
    }).detach();
}

} // namespace zev
