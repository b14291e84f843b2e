// Tells the watcher of a line, from the event loop, that input may be waiting or that the
// device may have gone.
//
// Transports call notify() from their signal handlers, which Qt may emit from inside a read
// (a socket that finds its peer gone while it reads emits `disconnected` there). The watcher
// is therefore never called from notify(): one call is posted to the event loop, and further
// notifications before it runs are folded into it, so that a line that floods costs one call
// per pass of the loop, and a read never runs inside another read.
#pragma once

#include <functional>
#include <memory>

namespace zev {

class Readiness {
public:
    /// From now on `ready` is called as described; an empty function stops it. A call already
    /// posted then does nothing.
    void watch(std::function<void()> ready);
    /// Posts one call of the watcher unless one is waiting.
    void notify();
    bool watched() const { return m_state && m_state->ready; }

private:
    struct State {
        std::function<void()> ready;
        bool posted = false;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace zev
