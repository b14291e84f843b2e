#include "server/Access.h"
#include "server/Options.h"
#include "server/PasswordPrompt.h"

#include <QDir>
#include <algorithm>
#include <utility>
#include <cstdio>
#include <cstdlib>

namespace zev {

std::string defaultStateFolder()
{
    if (const char *systemd = std::getenv("STATE_DIRECTORY"); systemd && *systemd) {
        const std::string first(systemd);
        return first.substr(0, first.find(':'));
    }
    if (const char *xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg)
        return std::string(xdg) + "/zev720d";
    return QDir::homePath().toStdString() + "/.local/state/zev720d";
}

bool parseListen(const std::string &text, QHostAddress &address, quint16 &port)
{
    std::string host;
    std::string rest;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos) return false;
        host = text.substr(1, close - 1);
        rest = text.substr(close + 1);
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon == std::string::npos) return false;
        host = text.substr(0, colon);
        rest = text.substr(colon);
    }
    if (rest.size() < 2 || rest.front() != ':') return false;
    char *end = nullptr;
    const long number = std::strtol(rest.c_str() + 1, &end, 10);
    if (*end || number < 0 || number > 65535) return false;
    if (!address.setAddress(QString::fromStdString(host))) return false;
    // Listening on [::] is listening on every address, IPv4 ones too, as users expect.
    if (address == QHostAddress(QHostAddress::AnyIPv6)) address = QHostAddress(QHostAddress::Any);
    port = quint16(number);
    return true;
}

namespace {

constexpr const char *kUsersUsage =
    "Usage: zev720d user add NAME --role viewer|desk|technician [--rooms K01-K08,VIP1]\n"
    "                          [--keep-tokens] [--state DIR]\n"
    "                                   a user that exists gets the new password, role and\n"
    "                                   rooms; its sessions end, and its tokens unless\n"
    "                                   --keep-tokens. --rooms binds a viewer or desk user to\n"
    "                                   those rooms (names, and ranges of one prefix); without\n"
    "                                   it the user reaches every room\n"
    "       zev720d user remove NAME [--state DIR]\n"
    "       zev720d user list [--state DIR]\n"
    "       zev720d token add NAME LABEL [--state DIR]     prints a new API token once\n"
    "       zev720d token remove NAME LABEL [--state DIR]\n";

int fail(const std::string &message)
{
    std::fprintf(stderr, "zev720d: %s\n", message.c_str());
    return 1;
}

} // namespace

int usersCommand(const std::vector<std::string> &arguments)
{
    std::vector<std::string> words;
    std::string state = defaultStateFolder();
    std::string roleText;
    std::string roomsText;
    bool roomsGiven = false;
    bool keepTokens = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--keep-tokens")
            keepTokens = true;
        else if (arguments[i] == "--state" && i + 1 < arguments.size())
            state = arguments[++i];
        else if (arguments[i] == "--role" && i + 1 < arguments.size())
            roleText = arguments[++i];
        else if (arguments[i] == "--rooms" && i + 1 < arguments.size()) {
            roomsText = arguments[++i];
            roomsGiven = true;
        }
        else if (arguments[i].rfind("--", 0) == 0) {
            std::fprintf(stderr, "zev720d: unknown argument '%s'\n%s", arguments[i].c_str(),
                         kUsersUsage);
            return 2;
        } else
            words.push_back(arguments[i]);
    }
    const auto usage = [] {
        std::fputs(kUsersUsage, stderr);
        return 2;
    };
    if (words.size() < 2) return usage();
    const std::string &kind = words[0], &verb = words[1];
    if (!sodiumReady()) return fail("libsodium cannot start (no random source)");
    if (!QDir().mkpath(QString::fromStdString(state)))
        return fail(state + ": the state folder cannot be made");
    QFile::setPermissions(QString::fromStdString(state),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    UsersStore store(state + "/users");
    std::vector<User> users;
    std::string error;
    if (!store.load(users, error)) return fail(error);
    const auto find = [&](const std::string &name) {
        return std::find_if(users.begin(), users.end(),
                            [&](const User &user) { return user.name == name; });
    };
    if (kind == "user" && verb == "list" && words.size() == 2) {
        for (const User &user : users)
            std::printf("%s %s%s%s\n", user.name.c_str(), roleName(user.role),
                        user.rooms.every() ? "" : (" rooms " + user.rooms.text()).c_str(),
                        user.tokens.empty()
                            ? ""
                            : (" (tokens: " + std::to_string(user.tokens.size()) + ")").c_str());
        return 0;
    }
    if (words.size() < 3) return usage();
    const std::string &name = words[2];
    if (!isPlainName(name, kMaxUserNameBytes))
        return fail("'" + name + "' is no user name (1 to 32 of A-Z a-z 0-9 . _ -)");
    if (kind == "user" && verb == "add" && words.size() == 3) {
        Role role;
        if (!roleFromName(roleText, role))
            return fail("--role viewer, desk or technician is needed");
        RoomSet rooms;
        if (roomsGiven && !parseRoomSet(roomsText, rooms, error)) return fail("--rooms: " + error);
        if (roomsGiven && role == Role::Technician)
            return fail("--rooms: a technician reaches every room");
        std::string password;
        if (!askNewPassword(name, password, error)) return fail(error);
        const std::string hash = hashPassword(password);
        std::fill(password.begin(), password.end(), '\0');
        if (hash.empty()) return fail("the password could not be hashed (out of memory)");
        const auto existing = find(name);
        const bool known = existing != users.end();
        std::size_t tokensRemoved = 0;
        if (known) {
            existing->role = role;
            existing->passwordHash = hash;
            existing->rooms = rooms;
            // A changed password is often a leaked one: what was handed out with it goes too.
            if (!keepTokens) tokensRemoved = std::exchange(existing->tokens, {}).size();
        } else {
            if (users.size() >= kMaxUsers) return fail("there are as many users as can be");
            users.push_back({name, role, hash, {}, rooms});
        }
        if (!store.save(users, error)) return fail(error);
        std::printf("%s: %s %s%s\n", name.c_str(), known ? "now" : "added as", roleName(role),
                    rooms.every() ? "" : (" of rooms " + rooms.text()).c_str());
        if (known && keepTokens)
            std::printf("%s: logged out everywhere; its tokens kept\n", name.c_str());
        else if (known)
            std::printf("%s: logged out everywhere; %zu tokens removed (--keep-tokens keeps them)\n",
                        name.c_str(), tokensRemoved);
        return 0;
    }
    const auto user = find(name);
    if (user == users.end()) return fail(name + ": no such user");
    if (kind == "user" && verb == "remove" && words.size() == 3) {
        users.erase(user);
        if (!store.save(users, error)) return fail(error);
        std::printf("%s: removed\n", name.c_str());
        return 0;
    }
    if (kind == "token" && words.size() == 4) {
        const std::string &label = words[3];
        if (!isPlainName(label, kMaxTokenLabelBytes))
            return fail("'" + label + "' is no token label (1 to 32 of A-Z a-z 0-9 . _ -)");
        const auto token = std::find_if(user->tokens.begin(), user->tokens.end(),
                                        [&](const UserToken &t) { return t.label == label; });
        if (verb == "add") {
            if (token != user->tokens.end()) return fail(name + " " + label + ": exists already");
            if (user->tokens.size() >= kMaxTokensPerUser)
                return fail(name + ": has " + std::to_string(kMaxTokensPerUser) + " tokens");
            const std::string secret = randomToken();
            user->tokens.push_back({label, tokenHash(secret)});
            if (!store.save(users, error)) return fail(error);
            std::printf("%s\n", secret.c_str()); // shown this once; the file keeps its hash
            return 0;
        }
        if (verb == "remove") {
            if (token == user->tokens.end()) return fail(name + " " + label + ": no such token");
            user->tokens.erase(token);
            if (!store.save(users, error)) return fail(error);
            std::printf("%s %s: removed\n", name.c_str(), label.c_str());
            return 0;
        }
    }
    return usage();
}

} // namespace zev
