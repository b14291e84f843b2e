// Opens whose outcome is known at once are still told from the event loop, never from inside
// startOpen; closing the port before then cancels the telling.
#pragma once

#include "wire/SerialLibrary.h"

#include <QObject>
#include <map>
#include <memory>

namespace zev {

class OpenReplies {
public:
    /// Calls `done(outcome)` from the event loop unless cancel(port) comes first.
    void later(int port, SerialLibrary::OpenDone done, OpenOutcome outcome);
    /// True when a reply for the port was waiting (it is dropped).
    bool cancel(int port);

private:
    std::map<int, std::unique_ptr<QObject>> m_waiting;
};

/// openPort for a layer that opens asynchronously: runs the event loop, with user input held
/// back, until startOpen's `done` (or a deadline a little past kOpenDeadlineMs, which closes
/// the port and reports NoAnswer).
OpenOutcome waitForOpen(SerialLibrary &layer, int port);

} // namespace zev
