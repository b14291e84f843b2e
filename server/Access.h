// Who may use the venue server: the users file of the state folder, the sessions of logged-in
// browsers, API tokens for scripts, and the slowing of failed logins.
//
//   passwords  Argon2id (libsodium's crypto_pwhash_str, its interactive limits: 64 MiB, two
//              passes), checked on a worker thread so that the rooms never wait for a login;
//              at most kMaxLoginsAtOnce at a time and kMaxLoginsWaiting waiting, a user that
//              does not exist costs the same
//   sessions   this run's random tag and 32 random bytes, a cookie (HttpOnly, SameSite=Strict; under TLS Secure and
//              named with the __Host- prefix), kept in memory only: a restarted server asks
//              browsers to log in again; ended after kSessionIdleSeconds without a request,
//              at most kMaxSessions; a user's are ended when the password or role changes
//   tokens     32 random bytes shown once when made; the file keeps their BLAKE2b hash
//   room links a technician's way in for one room's tablet: a pairing code of 32 random bytes
//              (its hash kept), good once and for kPairingCodeSeconds, that gives the browser
//              that uses it a guest session bound to that room alone, until the time the
//              technician chose or the link is ended; in memory only, like sessions, so a
//              restarted server asks for a new code. A wrong code slows its place as a wrong
//              password does (a good one pairs all the same)
//   logins     counted by where they come from (ClientAddresses::loginGroup: this machine as
//              one, an IPv6 /64 as one) and by user name. An attempt is reserved before its
//              hash is checked: one at a time from a place, and one at a time for a name
//              (but from a place the user has logged in from before). After the n-th failure
//              in a row, the next attempt from that place, and for that name from any place
//              the user has not logged in from, waits 2^(n-1) seconds (at most
//              kMaxLoginDelaySeconds); a success clears both. So guesses are never checked in
//              parallel, a name guessed from many places slows down, and its own user, from a
//              PC of theirs, is not locked out. When the queue is full, an attempt from such
//              a known place takes the place of the newest unknown one.
//
// The users file is read again when it changes (zev720d user add while the server runs),
// looked at once a second; what was let in by a user who is gone, or whose password or role
// changed, is let go.
//
// Thread safety: the event loop's thread, except the hashing, which touches no member.
#pragma once

#include "files/UsersFile.h"

#include <QDateTime>
#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <deque>
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
/// Places and names whose failed logins are remembered; the oldest is forgotten first.
constexpr std::size_t kMaxFailingAddresses = 10000;
/// Places a user has logged in from, remembered for each user.
constexpr std::size_t kMaxKnownPlaces = 16;
/// A room link's pairing code dies this long after it was made, or at its first use.
constexpr int kPairingCodeSeconds = 600;
/// Room links, paired or not, of the whole venue.
constexpr std::size_t kMaxRoomLinks = 1024;
/// A link lasts no longer than this.
constexpr int kMaxLinkDays = 7;

/// Who a request comes from.
struct Principal {
    std::string user;
    Role role = Role::Viewer;
    std::string session; ///< the session's id, or empty for a token
    std::string token;   ///< the token's hash, or empty for a session
    RoomSet rooms;       ///< the rooms the user is bound to; none: every room
    std::vector<std::uint8_t> registers; ///< a guest's: what it may change
    std::string link;    ///< a guest's: its room link
};

/// One room's tablet: a technician's link, its guests bound to that room.
struct RoomLink {
    std::string id; ///< 16 hex digits, for staff
    std::string room;
    std::vector<std::uint8_t> registers; ///< what its guests may change
    QDateTime until;                     ///< UTC: the guests' sessions end then
    std::string madeBy;
    std::string codeHash;                ///< until paired
    std::chrono::steady_clock::time_point codeDies;
    bool paired = false;
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
    /// Whoever it was, is it still let in: the user exists with the same role, and the
    /// session or the token has not ended.
    bool stillValid(const Principal &who) const;

    /// The principal of a request's Authorization and Cookie headers (either may be null).
    std::optional<Principal> identify(const std::string *authorization, const std::string *cookie);

    enum class LoginResult {
        Ok,
        Wrong,
        Slowed,    ///< failures from that place: wait
        UserSlowed, ///< failures for that name: wait
        Busy,      ///< an attempt from that place or for that name is under way: wait
        Full,      ///< the queue is full
    };
    /// Checks a password off the event loop's thread and calls `done` on it with the result,
    /// the new session's id (Ok) and the seconds to wait.
    void login(const std::string &user, const std::string &password, const QHostAddress &from,
               std::function<void(LoginResult, const std::string &session, int wait)> done);
    void logout(const std::string &session);
    /// The principal of a session just made.
    std::optional<Principal> sessionPrincipal(const std::string &session);
    /// Why a request's session cookie lets nobody in: "restarted" (a session of an earlier
    /// run of the server), "session-ended" (of this run), or empty (no session cookie).
    std::string sessionProblem(const std::string *cookie) const;
    /// The session cookie's name: "__Host-zev720d_session" under TLS, "zev720d_session".
    std::string cookieName() const;
    /// A new link for a room; the pairing code, shown once, in `code`. Null when there are
    /// as many as can be.
    const RoomLink *makeLink(const std::string &room, std::vector<std::uint8_t> registers,
                             const QDateTime &until, const std::string &madeBy, std::string &code);
    enum class PairResult { Ok, Unknown, Slowed };
    /// A pairing code from `from`: its link's guest session in `session` (Ok); `wait` seconds
    /// when that place has failed.
    PairResult pair(const std::string &code, const QHostAddress &from, std::string &session,
                    const RoomLink *&link, int &wait);
    /// The room's links that have not ended.
    std::vector<const RoomLink *> links(const std::string &room);
    std::size_t linkCount()
    {
        dropEndedLinks();
        return m_links.size();
    }
    /// Ends the room's links and their guests' sessions; how many.
    std::size_t endLinks(const std::string &room);
    /// Login attempts by result, for the metrics.
    const std::map<LoginResult, std::uint64_t> &loginCounts() const { return m_loginCounts; }

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
    struct Attempt {
        std::string user;
        std::string password;
        std::string place;
        bool known = false; ///< the user has logged in from this place before
        std::function<void(LoginResult, const std::string &, int)> done;
    };
    void reloadIfChanged();
    /// Forgets links whose time is over, and their sessions.
    void dropEndedLinks();
    const User *findUser(const std::string &name) const;
    /// Starts hashing the attempts waiting, as far as the workers allow.
    void pump();
    void finish(const Attempt &attempt, bool right);
    void fail(std::map<std::string, Failures> &table, const std::string &key,
              std::chrono::steady_clock::time_point at);
    void count(LoginResult result) { ++m_loginCounts[result]; }

    UsersStore m_store;
    bool m_secure = false;
    std::string m_run; ///< random, new at each start: every session id of this run begins with it
    std::vector<User> m_users;
    std::map<std::string, std::string> m_tokens; ///< hash → user
    std::map<std::string, Session> m_sessions;
    std::map<std::string, RoomLink> m_links;          ///< by id
    std::map<std::string, Session> m_guestSessions;   ///< Session::user is the link's id
    std::map<std::string, Failures> m_failures;     ///< by place
    std::map<std::string, Failures> m_userFailures; ///< by user name
    std::map<std::string, std::vector<std::string>> m_knownPlaces; ///< by user, newest last
    std::deque<Attempt> m_waiting;
    std::map<std::string, int> m_placesBusy; ///< places with an attempt waiting or hashed
    std::map<std::string, int> m_namesBusy;  ///< likewise, names
    std::map<LoginResult, std::uint64_t> m_loginCounts;
    std::uint64_t m_failureOrder = 0;
    int m_hashing = 0;
    std::chrono::steady_clock::time_point m_checked;
    std::string m_stamp; ///< the users file's size and time when read
    QTimer m_watch;      ///< the file is looked at this often even when no request comes
};

} // namespace zev
