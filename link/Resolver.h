// Host names to addresses without blocking the thread that asks.
//
// The system's resolver may take as long as its name servers let it (ten seconds and more
// when one does not answer), and cannot be stopped. Lookups therefore run on a small pool of
// threads that nobody waits for (kLookupThreads, started as they are needed; the names beyond
// them wait their turn): the asker gets the answer from its event loop, or goes on without it
// (an open whose deadline passed), and a thread still asking when the program ends does not
// hold the end up. Lookups of the same name at the same time share one. When the system
// allows no thread at all (its limit on processes), the lookup fails with that reason rather
// than the program.
#pragma once

#include <QHostAddress>
#include <QObject>
#include <functional>
#include <string>
#include <vector>

namespace zev {

/// Threads that look names up at once: ten thousand rooms with names that do not resolve
/// make four threads, not ten thousand.
constexpr int kLookupThreads = 4;

struct LookupResult {
    std::vector<QHostAddress> addresses; ///< in the order the system gave them
    bool unknownHost = false;            ///< the name does not exist
    bool noAnswer = false;               ///< the name servers did not answer
    std::string error;                   ///< the system's words when there are no addresses
};

/// Calls `done` from the event loop of this thread, unless `context` was destroyed first.
/// A numeric address is answered without a thread (still from the event loop).
void lookupHost(const std::string &host, QObject *context,
                std::function<void(const LookupResult &)> done);

} // namespace zev
