// How a job on a room ended: a closed set, each with one meaning and one name for people and
// scripts. The reason in the system's words goes beside it (RoomReport::detail).
#pragma once

#include "wire/SerialLibrary.h"

namespace zev {

enum class Outcome {
    Ok,               ///< done; a diff found no difference
    Differs,          ///< push: registers still differ after the resends; diff: a difference
    NotStarted,       ///< an interrupt came before the room's turn
    Interrupted,      ///< an interrupt ended its transfer; the processor was released
    BadLine,          ///< the line is not a port number, a device path or a network line
    NoSuchDevice,     ///< no device has the number, or the device does not exist
    PermissionDenied, ///< the device's permissions keep this user out
    HeldElsewhere,    ///< another program holds the device
    HeldHere,         ///< this program has the port open already (a line given twice)
    UnknownHost,      ///< the network line's host name does not resolve
    Refused,          ///< the server refused the connection
    NoAnswer,         ///< the line did not open within the deadline (1.5 s)
    ProcessorSilent,  ///< the line opened; the processor did not answer the connect command
    DeviceGone,       ///< the line went away during the job
    StoppedAnswering, ///< the processor answered, then stopped answering
    AnswersWrongly,   ///< a register's every answer was one no control of it shows
    Unanswered,       ///< some registers (or the lock) were never confirmed; the rest was done
    Failed,           ///< any other reason, in the detail
};

/// "ok", "differs", "no such device", "the device went away", ...: one name each, never
/// reused for another.
const char *outcomeName(Outcome outcome);

/// The same as a code for programs and translations: "ok", "differs", "no-such-device",
/// "device-gone", ...; one each, never reused.
const char *outcomeCode(Outcome outcome);
/// Every outcome, in declaration order.
inline constexpr Outcome kOutcomes[] = {
    Outcome::Ok,           Outcome::Differs,          Outcome::NotStarted,   Outcome::Interrupted,
    Outcome::BadLine,      Outcome::NoSuchDevice,     Outcome::PermissionDenied,
    Outcome::HeldElsewhere, Outcome::HeldHere,        Outcome::UnknownHost,  Outcome::Refused,
    Outcome::NoAnswer,     Outcome::ProcessorSilent,  Outcome::DeviceGone,
    Outcome::StoppedAnswering, Outcome::AnswersWrongly, Outcome::Unanswered, Outcome::Failed,
};

/// True for every outcome that is neither Ok, Differs, NotStarted nor Interrupted.
bool isFailure(Outcome outcome);

/// The outcome of an open that failed.
Outcome outcomeOfOpen(LineResult result);

} // namespace zev
