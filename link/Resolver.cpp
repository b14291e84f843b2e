#include "link/Resolver.h"
#include "link/SystemLookup.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
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

// The names waiting for a worker, the workers started so far, and where they hand their
// answers over. Workers are never joined (one may be blocked in the system's resolver when
// the program ends), so all they share lives as long as the program: it is made once and
// never destroyed, for a condition variable destroyed at exit would wait for its waiters. Once
// the application object is going, answers are dropped.
struct Pool {
    std::mutex lock;
    std::condition_variable work;
    std::deque<std::string> waiting;
    int workers = 0;
    QObject *handOver = nullptr;
    bool applicationGone = false;
};
Pool &pool()
{
    static Pool *const shared = new Pool;
    return *shared;
}

void deliver(const std::string &host, const LookupResult &result)
{
    auto it = underWay().find(host);
    if (it == underWay().end()) return;
    std::vector<Waiter> waiters = std::move(it->second);
    underWay().erase(it);
    for (Waiter &waiter : waiters)
        if (waiter.context) waiter.done(result);
}

void work()
{
    Pool &p = pool();
    for (;;) {
        std::string host;
        {
            std::unique_lock<std::mutex> lock(p.lock);
            p.work.wait(lock, [&p] { return !p.waiting.empty(); });
            host = std::move(p.waiting.front());
            p.waiting.pop_front();
        }
        const LookupResult result = systemLookup(host);
        std::lock_guard<std::mutex> lock(p.lock);
        if (p.applicationGone) continue;
        QMetaObject::invokeMethod(
            p.handOver, [host, result] { deliver(host, result); }, Qt::QueuedConnection);
    }
}

// Starts a worker while there are fewer than kLookupThreads; false when none runs and none
// can be started (the system's limit on threads).
bool haveWorker(Pool &p)
{
    if (p.workers >= kLookupThreads) return true;
    try {
        std::thread(work).detach();
        ++p.workers;
    } catch (const std::system_error &) {
        // The workers there are will do; with none, the lookup cannot run.
    }
    return p.workers > 0;
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
    auto &waiters = underWay()[host];
    waiters.push_back({context, std::move(done)});
    if (waiters.size() > 1) return; // asked already
    Pool &p = pool();
    std::lock_guard<std::mutex> lock(p.lock);
    if (!p.handOver) {
        p.handOver = new QObject; // lives as long as the program
        qAddPostRoutine([] {
            std::lock_guard<std::mutex> gone(pool().lock);
            pool().applicationGone = true;
        });
    }
    if (!haveWorker(p)) {
        LookupResult result;
        result.error = "no thread can be started for the name lookup (the system's limit on "
                       "threads)";
        QMetaObject::invokeMethod(
            p.handOver, [host, result] { deliver(host, result); }, Qt::QueuedConnection);
        return;
    }
    p.waiting.push_back(host);
    p.work.notify_one();
}

} // namespace zev
