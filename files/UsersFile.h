// The venue server's users file: who may log in, with which role, and the API tokens of each.
//
//   # zev720d users
//   user alice technician $argon2id$v=19$m=65536,t=2,p=1$...   the password's Argon2id hash
//   token alice prometheus 3f2a...                            BLAKE2b-256 of a token, in hex
//   rooms bar K01-K08,VIP1                                    the rooms a user is bound to
//
// Nothing in it is a secret in the clear: passwords are stored as Argon2id hashes, tokens as
// hashes of 32 random bytes. The file is read whole and strictly; a line that is not one of
// these forms is refused with its line number, and nothing is taken. No Qt.
#pragma once

#include "files/RoomSet.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zev {

/// In the order of what they may do. A guest is no user of the file: a room's tablet, let in
/// by a link a technician made, to that room alone.
enum class Role { Guest, Viewer, Desk, Technician };

/// "guest", "viewer", "desk", "technician".
const char *roleName(Role role);
/// The roles of the users file (no guest).
bool roleFromName(std::string_view name, Role &role);

constexpr std::size_t kMaxUsersFileBytes = 1024 * 1024;
constexpr std::size_t kMaxUsers = 1000;
constexpr std::size_t kMaxTokensPerUser = 16;
constexpr std::size_t kMaxUserNameBytes = 32;
constexpr std::size_t kMaxTokenLabelBytes = 32;
/// libsodium's crypto_pwhash_STRBYTES, the longest hash string.
constexpr std::size_t kMaxPasswordHashBytes = 128;
/// BLAKE2b-256 in hex.
constexpr std::size_t kTokenHashDigits = 64;

struct UserToken {
    std::string label; ///< what it is for ("prometheus")
    std::string hash;  ///< hex
};

struct User {
    std::string name;
    Role role = Role::Viewer;
    std::string passwordHash;
    std::vector<UserToken> tokens;
    RoomSet rooms; ///< the rooms the user sees and changes; none given: every room
};

/// User names and token labels: 1 to 32 of A-Z a-z 0-9 . _ -, not starting with '.' or '-'.
bool isPlainName(std::string_view name, std::size_t maxBytes);

/// False with `error` ("users:4: ...") at the first line that is not acceptable.
bool parseUsersFile(std::string_view text, const std::string &fileName, std::vector<User> &users,
                    std::string &error);
std::string usersFileText(const std::vector<User> &users);

} // namespace zev
