// A new password, asked for as passwd asks: on a terminal twice and without echo; from a pipe,
// the first line (for scripts and tests).
#pragma once

#include <string>

namespace zev {

constexpr std::size_t kMinPasswordBytes = 8;

/// False with `error` when none was given, the two differ, or it is too short.
bool askNewPassword(const std::string &user, std::string &password, std::string &error);

} // namespace zev
