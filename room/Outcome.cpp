#include "room/Outcome.h"

namespace zev {

const char *outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Ok:
        return "ok";
    case Outcome::Differs:
        return "differs";
    case Outcome::NotStarted:
        return "not started";
    case Outcome::Interrupted:
        return "interrupted";
    case Outcome::BadLine:
        return "not a line";
    case Outcome::NoSuchDevice:
        return "no such device";
    case Outcome::PermissionDenied:
        return "permission denied";
    case Outcome::HeldElsewhere:
        return "held by another program";
    case Outcome::HeldHere:
        return "already open in this program";
    case Outcome::UnknownHost:
        return "unknown host";
    case Outcome::Refused:
        return "refused";
    case Outcome::NoAnswer:
        return "no answer";
    case Outcome::ProcessorSilent:
        return "no answer from the processor";
    case Outcome::DeviceGone:
        return "the device went away";
    case Outcome::StoppedAnswering:
        return "the processor stopped answering";
    case Outcome::AnswersWrongly:
        return "the processor answers wrongly";
    case Outcome::Unanswered:
        return "not confirmed";
    case Outcome::Failed:
        return "failed";
    }
    return "failed";
}

const char *outcomeCode(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Ok: return "ok";
    case Outcome::Differs: return "differs";
    case Outcome::NotStarted: return "not-started";
    case Outcome::Interrupted: return "interrupted";
    case Outcome::BadLine: return "bad-line";
    case Outcome::NoSuchDevice: return "no-such-device";
    case Outcome::PermissionDenied: return "permission-denied";
    case Outcome::HeldElsewhere: return "held-elsewhere";
    case Outcome::HeldHere: return "held-here";
    case Outcome::UnknownHost: return "unknown-host";
    case Outcome::Refused: return "refused";
    case Outcome::NoAnswer: return "no-answer";
    case Outcome::ProcessorSilent: return "processor-silent";
    case Outcome::DeviceGone: return "device-gone";
    case Outcome::StoppedAnswering: return "stopped-answering";
    case Outcome::AnswersWrongly: return "answers-wrongly";
    case Outcome::Unanswered: return "unanswered";
    case Outcome::Failed: return "failed";
    }
    return "failed";
}

bool isFailure(Outcome outcome)
{
    return outcome != Outcome::Ok && outcome != Outcome::Differs &&
           outcome != Outcome::NotStarted && outcome != Outcome::Interrupted;
}

Outcome outcomeOfOpen(LineResult result)
{
    switch (result) {
    case LineResult::Ok:
        return Outcome::Ok;
    case LineResult::NoSuchDevice:
        return Outcome::NoSuchDevice;
    case LineResult::PermissionDenied:
        return Outcome::PermissionDenied;
    case LineResult::HeldElsewhere:
        return Outcome::HeldElsewhere;
    case LineResult::HeldHere:
        return Outcome::HeldHere;
    case LineResult::UnknownHost:
        return Outcome::UnknownHost;
    case LineResult::Refused:
        return Outcome::Refused;
    case LineResult::NoAnswer:
        return Outcome::NoAnswer;
    case LineResult::DeviceGone:
        return Outcome::DeviceGone;
    case LineResult::LineHeld:
    case LineResult::Failed:
        return Outcome::Failed;
    }
    return Outcome::Failed;
}

} // namespace zev
