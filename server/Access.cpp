#include "server/Access.h"

#include "files/AtomicFile.h"
#include "server/ClientAddresses.h"
#include "files/TextFile.h"
#include "service/Clock.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QThreadPool>
#include <algorithm>
#include <sodium.h>

namespace zev {
namespace {

constexpr std::chrono::seconds kReloadCheck{1};

QThreadPool &hashingPool()
{
    static QThreadPool pool;
    pool.setMaxThreadCount(kMaxLoginsAtOnce);
    return pool;
}

// A hash with the same cost as a real one, checked for a user that does not exist, so that
// the time of an answer does not tell which names exist.
const std::string &decoyHash()
{
    static const std::string hash = hashPassword("no such user");
    return hash;
}

std::string cookieValue(const std::string &header, const std::string &name)
{
    std::size_t at = 0;
    while (at < header.size()) {
        const std::size_t end = std::min(header.find(';', at), header.size());
        std::string_view item(header.data() + at, end - at);
        while (!item.empty() && item.front() == ' ')
            item.remove_prefix(1);
        if (item.size() > name.size() && item.substr(0, name.size()) == name &&
            item[name.size()] == '=')
            return std::string(item.substr(name.size() + 1));
        at = end + 1;
    }
    return {};
}

} // namespace

bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

std::string hashPassword(const std::string &password)
{
    char out[crypto_pwhash_STRBYTES];
    if (!sodiumReady() ||
        crypto_pwhash_str(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return {};
    return out;
}

std::string randomToken()
{
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    char out[sodium_base64_ENCODED_LEN(32, sodium_base64_VARIANT_URLSAFE_NO_PADDING)];
    sodium_bin2base64(out, sizeof out, bytes, sizeof bytes,
                      sodium_base64_VARIANT_URLSAFE_NO_PADDING);
    sodium_memzero(bytes, sizeof bytes);
    return out;
}

std::string tokenHash(const std::string &token)
{
    unsigned char hash[32];
    crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char *>(token.data()),
                       token.size(), nullptr, 0);
    char hex[65];
    sodium_bin2hex(hex, sizeof hex, hash, sizeof hash);
    return hex;
}

bool UsersStore::load(std::vector<User> &users, std::string &error) const
{
    std::string text;
    switch (readTextFile(m_path, kMaxUsersFileBytes, text, error)) {
    case TextFileStatus::Read:
        return parseUsersFile(text, m_path, users, error);
    case TextFileStatus::Missing:
        users.clear();
        return true;
    default:
        if (error.empty()) error = m_path + ": cannot be read";
        return false;
    }
}

bool UsersStore::save(const std::vector<User> &users, std::string &error) const
{
    const std::string text = usersFileText(users);
    return writeFileSafely(m_path, text.data(), text.size(), error);
}

Access::Access(std::string usersPath, bool secureCookies, QObject *parent)
    : QObject(parent), m_store(std::move(usersPath)), m_secure(secureCookies),
      m_run(randomToken().substr(0, 8))
{
    QObject::connect(&m_watch, &QTimer::timeout, this, [this] { reloadIfChanged(); });
    m_watch.start(std::chrono::milliseconds(kReloadCheck).count());
}

bool Access::stillValid(const Principal &who) const
{
    const User *user = findUser(who.user);
    if (!user || user->role != who.role || user->rooms.items != who.rooms.items) return false;
    if (who.role == Role::Guest) {
        const auto link = m_links.find(who.link);
        return link != m_links.end() && m_guestSessions.count(who.session) &&
               processClock().now() < link->second.until;
    }
    if (!who.token.empty()) {
        const auto token = m_tokens.find(who.token);
        return token != m_tokens.end() && token->second == who.user;
    }
    return !who.session.empty() && m_sessions.count(who.session);
}

bool Access::load(std::string &error)
{
    std::vector<User> users;
    const QFileInfo info(QString::fromStdString(m_store.path()));
    const std::string stamp = info.exists() ? std::to_string(info.size()) + "@" +
                                                  std::to_string(info.lastModified().toMSecsSinceEpoch())
                                            : "none";
    if (!m_store.load(users, error)) return false;
    // A user whose password or role changed logs in again: its sessions end.
    for (const User &before : m_users) {
        const auto now = std::find_if(users.begin(), users.end(),
                                      [&](const User &user) { return user.name == before.name; });
        if (now == users.end() || now->passwordHash != before.passwordHash ||
            now->role != before.role) {
            std::erase_if(m_sessions, [&](const auto &item) { return item.second.user == before.name; });
            m_knownPlaces.erase(before.name);
        }
    }
    m_users = std::move(users);
    m_stamp = stamp;
    m_tokens.clear();
    for (const User &user : m_users)
        for (const UserToken &token : user.tokens) m_tokens[token.hash] = user.name;
    // Sessions of users who are gone end with them.
    for (auto it = m_sessions.begin(); it != m_sessions.end();)
        it = findUser(it->second.user) ? std::next(it) : m_sessions.erase(it);
    emit usersChanged();
    return true;
}

void Access::reloadIfChanged()
{
    const auto now = std::chrono::steady_clock::now();
    if (now - m_checked < kReloadCheck) return;
    m_checked = now;
    const QFileInfo info(QString::fromStdString(m_store.path()));
    const std::string stamp = info.exists() ? std::to_string(info.size()) + "@" +
                                                  std::to_string(info.lastModified().toMSecsSinceEpoch())
                                            : "none";
    std::string error;
    if (stamp != m_stamp && !load(error))
        qWarning("zev720d: %s (the users read before stay)", error.c_str());
}

std::size_t Access::userCount()
{
    reloadIfChanged();
    return m_users.size();
}

const User *Access::findUser(const std::string &name) const
{
    const auto it = std::find_if(m_users.begin(), m_users.end(),
                                 [&](const User &user) { return user.name == name; });
    return it == m_users.end() ? nullptr : &*it;
}

std::optional<Principal> Access::identify(const std::string *authorization,
                                          const std::string *cookie)
{
    reloadIfChanged();
    if (authorization) {
        if (authorization->rfind("Bearer ", 0) != 0) return std::nullopt;
        const auto token = m_tokens.find(tokenHash(authorization->substr(7)));
        if (token == m_tokens.end()) return std::nullopt;
        const User *user = findUser(token->second);
        if (!user) return std::nullopt;
        return Principal{user->name, user->role, {}, token->first, user->rooms, {}, {}};
    }
    if (!cookie) return std::nullopt;
    const std::string id = cookieValue(*cookie, cookieName());
    if (const auto guest = m_guestSessions.find(id); !id.empty() && guest != m_guestSessions.end()) {
        dropEndedLinks();
        const auto link = m_links.find(guest->second.user);
        const auto now = std::chrono::steady_clock::now();
        if (link == m_links.end() ||
            now - guest->second.seen > std::chrono::seconds(kSessionIdleSeconds)) {
            m_guestSessions.erase(id);
            return std::nullopt;
        }
        guest->second.seen = now;
        Principal who{"guest@" + link->second.room, Role::Guest, id, {}, {}, link->second.registers,
                      link->first};
        who.rooms.items = {link->second.room};
        return who;
    }
    const auto session = m_sessions.find(id);
    if (id.empty() || session == m_sessions.end()) return std::nullopt;
    const auto now = std::chrono::steady_clock::now();
    const User *user = findUser(session->second.user);
    if (!user || now - session->second.seen > std::chrono::seconds(kSessionIdleSeconds)) {
        m_sessions.erase(session);
        return std::nullopt;
    }
    session->second.seen = now;
    return Principal{user->name, user->role, id, {}, user->rooms, {}, {}};
}

void Access::login(const std::string &name, const std::string &password, const QHostAddress &from,
                   std::function<void(LoginResult, const std::string &, int)> done)
{
    reloadIfChanged();
    const auto now = std::chrono::steady_clock::now();
    const std::string place = ClientAddresses::loginGroup(from).toStdString();
    const auto waitFor = [&](const std::map<std::string, Failures> &table, const std::string &key) {
        const auto it = table.find(key);
        if (it == table.end() || now >= it->second.next) return 0;
        return int(std::chrono::ceil<std::chrono::seconds>(it->second.next - now).count());
    };
    const auto known = m_knownPlaces.find(name);
    const bool knownPlace = known != m_knownPlaces.end() &&
                            std::find(known->second.begin(), known->second.end(), place) !=
                                known->second.end();
    const auto refuse = [&](LoginResult result, int wait) {
        count(result);
        done(result, {}, wait);
    };
    // Reserved before hashing: what is checked here is what the hashes will be.
    if (const int wait = waitFor(m_failures, place)) return refuse(LoginResult::Slowed, wait);
    if (const int wait = waitFor(m_userFailures, name); wait && !knownPlace)
        return refuse(LoginResult::UserSlowed, wait);
    if (m_placesBusy.count(place) || (!knownPlace && m_namesBusy.count(name)))
        return refuse(LoginResult::Busy, 1);
    if (m_hashing + int(m_waiting.size()) >= kMaxLoginsAtOnce + kMaxLoginsWaiting) {
        const auto unknown = std::find_if(m_waiting.rbegin(), m_waiting.rend(),
                                          [](const Attempt &a) { return !a.known; });
        if (!knownPlace || unknown == m_waiting.rend()) return refuse(LoginResult::Full, 1);
        // A user at a PC of theirs goes before an unknown guess.
        Attempt evicted = std::move(*unknown);
        m_waiting.erase(std::next(unknown).base());
        if (--m_placesBusy[evicted.place] == 0) m_placesBusy.erase(evicted.place);
        if (--m_namesBusy[evicted.user] == 0) m_namesBusy.erase(evicted.user);
        sodium_memzero(evicted.password.data(), evicted.password.size());
        count(LoginResult::Full);
        evicted.done(LoginResult::Full, {}, 1);
    }
    ++m_placesBusy[place];
    ++m_namesBusy[name];
    m_waiting.push_back({name, password, place, knownPlace, std::move(done)});
    pump();
}

void Access::pump()
{
    while (m_hashing < kMaxLoginsAtOnce && !m_waiting.empty()) {
        auto attempt = std::make_shared<Attempt>(std::move(m_waiting.front()));
        m_waiting.pop_front();
        const User *user = findUser(attempt->user);
        const std::string hash = user ? user->passwordHash : std::string();
        ++m_hashing;
        QPointer<Access> guard(this);
        hashingPool().start([guard, attempt, hash, known = user != nullptr]() {
            // The decoy is made on this thread the first time it is needed.
            const std::string &checked = known ? hash : decoyHash();
            std::string &password = attempt->password;
            const bool right =
                password.size() <= kMaxPasswordBytes &&
                crypto_pwhash_str_verify(checked.c_str(), password.data(), password.size()) == 0 &&
                known;
            sodium_memzero(password.data(), password.size());
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard, attempt, right] {
                    if (guard) guard->finish(*attempt, right);
                },
                Qt::QueuedConnection);
        });
    }
}

void Access::fail(std::map<std::string, Failures> &table, const std::string &key,
                  std::chrono::steady_clock::time_point at)
{
    if (table.size() >= kMaxFailingAddresses && !table.count(key))
        table.erase(std::min_element(table.begin(), table.end(), [](const auto &a, const auto &b) {
            return a.second.order < b.second.order;
        }));
    Failures &failures = table[key];
    failures.count = std::min(failures.count + 1, 16);
    failures.order = ++m_failureOrder;
    failures.next = at + std::chrono::seconds(std::min(1 << (failures.count - 1), kMaxLoginDelaySeconds));
}

void Access::finish(const Attempt &attempt, bool right)
{
    --m_hashing;
    if (--m_placesBusy[attempt.place] == 0) m_placesBusy.erase(attempt.place);
    if (--m_namesBusy[attempt.user] == 0) m_namesBusy.erase(attempt.user);
    const auto at = std::chrono::steady_clock::now();
    // A user removed while the hash was checked is let in no more.
    const User *user = findUser(attempt.user);
    if (!right || !user) {
        fail(m_failures, attempt.place, at);
        fail(m_userFailures, attempt.user, at);
        const int wait = int(std::chrono::ceil<std::chrono::seconds>(m_failures[attempt.place].next - at).count());
        count(LoginResult::Wrong);
        attempt.done(LoginResult::Wrong, {}, wait);
        return pump();
    }
    m_failures.erase(attempt.place);
    m_userFailures.erase(attempt.user);
    std::vector<std::string> &places = m_knownPlaces[attempt.user];
    std::erase(places, attempt.place);
    places.push_back(attempt.place);
    if (places.size() > kMaxKnownPlaces) places.erase(places.begin());
    if (m_sessions.size() >= kMaxSessions) {
        const auto oldest = std::min_element(
            m_sessions.begin(), m_sessions.end(),
            [](const auto &a, const auto &b) { return a.second.seen < b.second.seen; });
        m_sessions.erase(oldest);
    }
    const std::string id = m_run + "." + randomToken();
    m_sessions[id] = {attempt.user, at};
    count(LoginResult::Ok);
    attempt.done(LoginResult::Ok, id, 0);
    pump();
}

void Access::logout(const std::string &session)
{
    m_sessions.erase(session);
    m_guestSessions.erase(session);
}

const RoomLink *Access::makeLink(const std::string &room, std::vector<std::uint8_t> registers,
                                 const QDateTime &until, const std::string &madeBy, std::string &code)
{
    dropEndedLinks();
    if (m_links.size() >= kMaxRoomLinks) return nullptr;
    unsigned char bytes[8];
    randombytes_buf(bytes, sizeof bytes);
    char hex[17];
    sodium_bin2hex(hex, sizeof hex, bytes, sizeof bytes);
    code = randomToken();
    RoomLink &link = m_links[hex];
    link = {hex, room, std::move(registers), until.toUTC(), madeBy, tokenHash(code),
            std::chrono::steady_clock::now() + std::chrono::seconds(kPairingCodeSeconds), false};
    return &link;
}

Access::PairResult Access::pair(const std::string &code, const QHostAddress &from,
                                std::string &session, const RoomLink *&found, int &wait)
{
    dropEndedLinks();
    const auto now = std::chrono::steady_clock::now();
    const std::string place = ClientAddresses::loginGroup(from).toStdString();
    const std::string hash = code.size() <= 64 ? tokenHash(code) : std::string();
    const auto link = std::find_if(m_links.begin(), m_links.end(), [&](const auto &item) {
        return !item.second.paired && !hash.empty() && item.second.codeHash == hash &&
               now < item.second.codeDies;
    });
    // A good code pairs even from a place that is slowed (no one guesses 32 random bytes: the
    // slowing bounds the wrong ones), so a tablet that scanned an old code takes the new one.
    if (link == m_links.end()) {
        if (const auto failures = m_failures.find(place);
            failures != m_failures.end() && now < failures->second.next) {
            wait = int(std::chrono::ceil<std::chrono::seconds>(failures->second.next - now).count());
            return PairResult::Slowed;
        }
        fail(m_failures, place, now);
        wait = int(std::chrono::ceil<std::chrono::seconds>(m_failures[place].next - now).count());
        return PairResult::Unknown;
    }
    // Once: the code is gone, and the session is the link's only one.
    link->second.paired = true;
    link->second.codeHash.clear();
    if (m_guestSessions.size() >= kMaxSessions) return PairResult::Unknown;
    session = m_run + "." + randomToken();
    m_guestSessions[session] = {link->first, now};
    found = &link->second;
    return PairResult::Ok;
}

std::vector<const RoomLink *> Access::links(const std::string &room)
{
    dropEndedLinks();
    std::vector<const RoomLink *> out;
    for (const auto &[id, link] : m_links)
        if (link.room == room) out.push_back(&link);
    return out;
}

std::size_t Access::endLinks(const std::string &room)
{
    const std::size_t before = m_links.size();
    std::erase_if(m_links, [&](const auto &item) { return item.second.room == room; });
    std::erase_if(m_guestSessions, [this](const auto &item) { return !m_links.count(item.second.user); });
    return before - m_links.size();
}

void Access::dropEndedLinks()
{
    const QDateTime now = processClock().now();
    const auto steady = std::chrono::steady_clock::now();
    std::erase_if(m_links, [&](const auto &item) {
        const RoomLink &link = item.second;
        return now >= link.until || (!link.paired && steady >= link.codeDies);
    });
    std::erase_if(m_guestSessions, [this](const auto &item) { return !m_links.count(item.second.user); });
}

std::optional<Principal> Access::sessionPrincipal(const std::string &session)
{
    const std::string cookie = cookieName() + "=" + session;
    return identify(nullptr, &cookie);
}

std::string Access::sessionProblem(const std::string *cookie) const
{
    if (!cookie) return {};
    const std::string id = cookieValue(*cookie, cookieName());
    if (id.empty()) return {};
    return id.rfind(m_run + ".", 0) == 0 ? "session-ended" : "restarted";
}

std::string Access::cookieName() const
{
    // Under TLS the prefix makes browsers keep it only as the server set it: Secure, for this
    // host alone, on every path.
    return m_secure ? "__Host-zev720d_session" : "zev720d_session";
}

std::string Access::cookie(const std::string &session) const
{
    std::string value = cookieName() + "=" + session + "; Path=/; HttpOnly; SameSite=Strict";
    if (session.empty()) value += "; Max-Age=0";
    if (m_secure) value += "; Secure";
    return value;
}

} // namespace zev
