// Who may use the venue server: the users file of the state folder, the sessions of logged-in
// browsers, API tokens for scripts, and the slowing of failed logins.
//
//   passwords  Argon2id (libsodium's crypto_pwhash_str, its interactive limits: 64 MiB, two
//              passes), checked on a worker thread so that the rooms never wait for a login;
//              at most kMaxLoginsAtOnce at a time, a user that does not exist costs the same
//   sessions   32 random bytes, a cookie (HttpOnly, SameSite=Strict, Secure under TLS), kept in
//              memory only: a restarted server asks browsers to log in again; ended after
//              kSessionIdleSeconds without a request, at most kMaxSessions
//   tokens     32 random bytes shown once when made; the file keeps their BLAKE2b hash
//   failures   per address: after the n-th failed login in a row the next is answered only
//              after 2^(n-1) seconds (at most kMaxLoginDelaySeconds); a success clears it
//
// The users file is read again when it changes (zev720d user add while the server runs),
// looked at once a second; what was let in by a user who is gone is let go.
//
// Thread safety: the event loop's thread, except the hashing, which touches no member.
#pragma once

#include "files/UsersFile.h"

#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zev {

constexpr int kMaxLoginsAtOnce = 2;
constexpr int kMaxLoginsWaiting = 16;
constexpr int kSessionIdleSeconds = 12 * 3600;
constexpr std::size_t kMaxSessions = 4096;
constexpr int kMaxLoginDelaySeconds = 60;
constexpr std::size_t kMaxPasswordBytes = 1024;
/// Addresses whose failed logins are remembered; the oldest is forgotten first.
constexpr std::size_t kMaxFailingAddresses = 10000;

/// Who a request comes from.
struct Principal {
    std::string user;
    Role role = Role::Viewer;
    std::string session; ///< the session's id, or empty for a token
};

/// libsodium set up once; false when it cannot be (no random source).
bool sodiumReady();
/// An Argon2id hash of the password, as the users file stores it; empty when out of memory.
std::string hashPassword(const std::string &password);
/// 32 random bytes as URL-safe base64 (43 characters).
std::string randomToken();
/// The token's BLAKE2b-256 in hex.
std::string tokenHash(const std::string &token);

/// The users file of a state folder: read, changed and written back with a safe save.
class UsersStore {
public:
    explicit UsersStore(std::string path) : m_path(std::move(path)) {}
    const std::string &path() const { return m_path; }
    /// No file is no users; false with `error` for a file that cannot be read or is refused.
    bool load(std::vector<User> &users, std::string &error) const;
    bool save(const std::vector<User> &users, std::string &error) const;

private:
    std::string m_path;
};

class Access : public QObject {
    Q_OBJECT
public:
    explicit Access(std::string usersPath, bool secureCookies, QObject *parent = nullptr);

    /// Reads the users file; false with `error` when it is refused.
    bool load(std::string &error);
    std::size_t userCount();
    /// Whoever it was, is it still let in: the user exists, and a session has not ended.
    bool stillValid(const Principal &who) const;

    /// The principal of a request's Authorization and Cookie headers (either may be null).
    std::optional<Principal> identify(const std::string *authorization, const std::string *cookie);

    enum class LoginResult { Ok, Wrong, Slowed, Busy };
    /// Checks a password off the event loop's thread and calls `done` on it with the result,
    /// the new session's id (Ok) and the seconds to wait (Slowed).
    void login(const std::string &user, const std::string &password, const QHostAddress &from,
               std::function<void(LoginResult, const std::string &session, int wait)> done);
    void logout(const std::string &session);

signals:
    /// The users file was read again: users, roles or tokens may be gone.
    void usersChanged();

public:
    /// The Set-Cookie value that gives a browser the session, or ends it (empty id).
    std::string cookie(const std::string &session) const;

private:
    struct Session {
        std::string user;
        std::chrono::steady_clock::time_point seen;
    };
    struct Failures {
        int count = 0;
        std::chrono::steady_clock::time_point next; ///< no attempt is taken before this
        std::uint64_t order = 0;
    };
    void reloadIfChanged();
    const User *findUser(const std::string &name) const;

    UsersStore m_store;
    bool m_secure = false;
    std::vector<User> m_users;
    std::map<std::string, std::string> m_tokens; ///< hash → user
    std::map<std::string, Session> m_sessions;
    std::map<std::string, Failures> m_failures; ///< by address
    std::uint64_t m_failureOrder = 0;
    int m_hashing = 0;
    std::chrono::steady_clock::time_point m_checked;
    std::string m_stamp; ///< the users file's size and time when read
    QTimer m_watch;      ///< the file is looked at this often even when no request comes
};

} // namespace zev
