#include "files/UsersFile.h"

#include <algorithm>
#include <sstream>

namespace zev {
namespace {

std::vector<std::string_view> words(std::string_view line)
{
    std::vector<std::string_view> out;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t'))
            ++at;
        const std::size_t start = at;
        while (at < line.size() && line[at] != ' ' && line[at] != '\t')
            ++at;
        if (at > start) out.push_back(line.substr(start, at - start));
    }
    return out;
}

bool isPasswordHash(std::string_view hash)
{
    return hash.size() <= kMaxPasswordHashBytes && hash.rfind("$argon2id$", 0) == 0 &&
           std::all_of(hash.begin(), hash.end(), [](char c) { return c > 0x20 && c < 0x7f; });
}

bool isTokenHash(std::string_view hash)
{
    return hash.size() == kTokenHashDigits &&
           std::all_of(hash.begin(), hash.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

} // namespace

const char *roleName(Role role)
{
    switch (role) {
    case Role::Guest: return "guest";
    case Role::Viewer: return "viewer";
    case Role::Desk: return "desk";
    case Role::Technician: return "technician";
    }
    return "viewer";
}

bool roleFromName(std::string_view name, Role &role)
{
    for (Role r : {Role::Viewer, Role::Desk, Role::Technician})
        if (name == roleName(r)) {
            role = r;
            return true;
        }
    return false;
}

bool isPlainName(std::string_view name, std::size_t maxBytes)
{
    return !name.empty() && name.size() <= maxBytes && name.front() != '.' &&
           name.front() != '-' && std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == '_' || c == '-';
           });
}

bool parseUsersFile(std::string_view text, const std::string &fileName, std::vector<User> &users,
                    std::string &error)
{
    std::vector<User> read;
    int number = 0;
    const auto refuse = [&](const std::string &what) {
        error = fileName + ":" + std::to_string(number) + ": " + what;
        return false;
    };
    if (text.size() > kMaxUsersFileBytes)
        return refuse("larger than " + std::to_string(kMaxUsersFileBytes) + " bytes");
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (std::any_of(line.begin(), line.end(),
                        [](char c) { return (unsigned char)c < 0x20 && c != '\t'; }))
            return refuse("a control character");
        const auto fields = words(line);
        if (fields.empty() || fields[0].front() == '#') continue;
        if (fields[0] == "user") {
            Role role;
            if (fields.size() != 4) return refuse("user NAME ROLE HASH expected");
            if (!isPlainName(fields[1], kMaxUserNameBytes))
                return refuse("'" + std::string(fields[1]) + "' is no user name");
            if (!roleFromName(fields[2], role))
                return refuse(std::string(fields[1]) + ": '" + std::string(fields[2]) +
                              "' is no role (viewer, desk, technician)");
            if (!isPasswordHash(fields[3]))
                return refuse(std::string(fields[1]) + ": not an Argon2id password hash");
            if (std::any_of(read.begin(), read.end(),
                            [&](const User &u) { return u.name == fields[1]; }))
                return refuse(std::string(fields[1]) + ": given twice");
            if (read.size() >= kMaxUsers)
                return refuse("more than " + std::to_string(kMaxUsers) + " users");
            read.push_back({std::string(fields[1]), role, std::string(fields[3]), {}, {}});
        } else if (fields[0] == "token") {
            if (fields.size() != 4) return refuse("token NAME LABEL HASH expected");
            const auto user = std::find_if(read.begin(), read.end(),
                                           [&](const User &u) { return u.name == fields[1]; });
            if (user == read.end())
                return refuse(std::string(fields[1]) + ": a token of no user above");
            if (!isPlainName(fields[2], kMaxTokenLabelBytes))
                return refuse("'" + std::string(fields[2]) + "' is no token label");
            if (!isTokenHash(fields[3]))
                return refuse(std::string(fields[1]) + " " + std::string(fields[2]) +
                              ": not a token hash (64 hex digits)");
            if (user->tokens.size() >= kMaxTokensPerUser)
                return refuse(user->name + ": more than " + std::to_string(kMaxTokensPerUser) +
                              " tokens");
            if (std::any_of(user->tokens.begin(), user->tokens.end(),
                            [&](const UserToken &t) { return t.label == fields[2]; }))
                return refuse(user->name + " " + std::string(fields[2]) + ": given twice");
            user->tokens.push_back({std::string(fields[2]), std::string(fields[3])});
        } else if (fields[0] == "rooms") {
            if (fields.size() < 3) return refuse("rooms NAME ROOM,ROOM-ROOM,... expected");
            const auto user = std::find_if(read.begin(), read.end(),
                                           [&](const User &u) { return u.name == fields[1]; });
            if (user == read.end()) return refuse(std::string(fields[1]) + ": rooms of no user above");
            if (!user->rooms.every()) return refuse(user->name + ": rooms given twice");
            // The list is the rest of the line: a room's name may hold a space.
            std::string_view list =
                line.substr(std::size_t(fields[1].data() - line.data()) + fields[1].size());
            std::string why;
            if (!parseRoomSet(list, user->rooms, why)) return refuse(user->name + ": " + why);
        } else {
            return refuse("'" + std::string(fields[0]) + "': a line is user, token or rooms");
        }
    }
    users = std::move(read);
    return true;
}

std::string usersFileText(const std::vector<User> &users)
{
    std::ostringstream out;
    out << "# zev720d users: user NAME ROLE ARGON2ID-HASH; token NAME LABEL BLAKE2B-HASH;\n"
           "# rooms NAME ROOMS (K01-K08,VIP1)\n";
    for (const User &user : users) {
        out << "user " << user.name << ' ' << roleName(user.role) << ' ' << user.passwordHash
            << '\n';
        for (const UserToken &token : user.tokens)
            out << "token " << user.name << ' ' << token.label << ' ' << token.hash << '\n';
        if (!user.rooms.every()) out << "rooms " << user.name << ' ' << user.rooms.text() << '\n';
    }
    return out.str();
}

} // namespace zev
