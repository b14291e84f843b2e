// Users files as anyone may write them: refused with the file's name and a line, or users
// with plain names, each once, whose text read again gives the same users.
#include "files/UsersFile.h"
#include "tests/fuzz/FuzzCheck.h"

#include <set>

using zev::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    std::vector<zev::User> users;
    std::string error;
    if (!zev::parseUsersFile(text, "users", users, error)) {
        check(users.empty() && error.rfind("users:", 0) == 0);
        return 0;
    }
    std::set<std::string> names;
    for (const zev::User &user : users) {
        check(zev::isPlainName(user.name, zev::kMaxUserNameBytes) && names.insert(user.name).second);
        check(user.passwordHash.rfind("$argon2id$", 0) == 0);
        check(user.tokens.size() <= zev::kMaxTokensPerUser);
    }
    std::vector<zev::User> again;
    check(zev::parseUsersFile(zev::usersFileText(users), "users", again, error));
    check(again.size() == users.size());
    for (std::size_t i = 0; i < users.size(); ++i)
        check(again[i].name == users[i].name && again[i].role == users[i].role &&
              again[i].passwordHash == users[i].passwordHash &&
              again[i].tokens.size() == users[i].tokens.size());
    return 0;
}
