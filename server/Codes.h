// The codes of the venue server's answers, for programs and translations: every problem (RFC
// 9457) carries one beside its English "detail", and so does every reason a room is offline
// (room/Outcome's codes). A code keeps its meaning for ever; the pages translate codes, and
// show the English detail of one they do not know. `zev720d --codes` lists them all.
#pragma once

#include <span>
#include <string>

namespace zev {

struct AnswerCode {
    const char *code;
    int status;          ///< the HTTP status it comes with; 0 for a room's reason
    const char *meaning; ///< for people reading the documentation
};

/// Every problem code; the first of each status is that status's own, given to a problem that
/// names no other.
std::span<const AnswerCode> problemCodes();
/// The code a problem of `status` carries when it names none.
const char *codeOfStatus(int status);
/// Whether `code` is one of problemCodes().
bool isProblemCode(const std::string &code);

} // namespace zev
