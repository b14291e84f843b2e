#include "server/Access.h"

#include "files/AtomicFile.h"
#include "wire/TextFile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QThreadPool>
#include <algorithm>
#include <sodium.h>

namespace zev {
namespace {

constexpr const char *kCookieName = "zev720d_session";
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
    : QObject(parent), m_store(std::move(usersPath)), m_secure(secureCookies)
{
    QObject::connect(&m_watch, &QTimer::timeout, this, [this] { reloadIfChanged(); });
    m_watch.start(std::chrono::milliseconds(kReloadCheck).count());
}

bool Access::stillValid(const Principal &who) const
{
    return findUser(who.user) && (who.session.empty() || m_sessions.count(who.session));
}

bool Access::load(std::string &error)
{
    std::vector<User> users;
    const QFileInfo info(QString::fromStdString(m_store.path()));
    const std::string stamp = info.exists() ? std::to_string(info.size()) + "@" +
                                                  std::to_string(info.lastModified().toMSecsSinceEpoch())
                                            : "none";
    if (!m_store.load(users, error)) return false;
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
        return Principal{user->name, user->role, {}};
    }
    if (!cookie) return std::nullopt;
    const std::string id = cookieValue(*cookie, kCookieName);
    const auto session = m_sessions.find(id);
    if (id.empty() || session == m_sessions.end()) return std::nullopt;
    const auto now = std::chrono::steady_clock::now();
    const User *user = findUser(session->second.user);
    if (!user || now - session->second.seen > std::chrono::seconds(kSessionIdleSeconds)) {
        m_sessions.erase(session);
        return std::nullopt;
    }
    session->second.seen = now;
    return Principal{user->name, user->role, id};
}

void Access::login(const std::string &name, const std::string &password, const QHostAddress &from,
                   std::function<void(LoginResult, const std::string &, int)> done)
{
    reloadIfChanged();
    const auto now = std::chrono::steady_clock::now();
    const std::string address = from.toString().toStdString();
    const auto failing = m_failures.find(address);
    if (failing != m_failures.end() && now < failing->second.next) {
        const auto wait = std::chrono::ceil<std::chrono::seconds>(failing->second.next - now);
        return done(LoginResult::Slowed, {}, int(wait.count()));
    }
    if (m_hashing >= kMaxLoginsAtOnce + kMaxLoginsWaiting) return done(LoginResult::Busy, {}, 1);
    const User *user = findUser(name);
    const std::string hash = user ? user->passwordHash : std::string();
    ++m_hashing;
    QPointer<Access> guard(this);
    hashingPool().start([guard, name, password = std::string(password), hash, known = user != nullptr, address,
                         done = std::move(done)]() mutable {
        // The decoy is made on this thread the first time it is needed.
        const std::string &checked = known ? hash : decoyHash();
        const bool right =
            password.size() <= kMaxPasswordBytes &&
            crypto_pwhash_str_verify(checked.c_str(), password.data(), password.size()) == 0 &&
            known;
        sodium_memzero(password.data(), password.size());
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, name, right, address, done = std::move(done)] {
                if (!guard) return;
                Access &self = *guard;
                --self.m_hashing;
                const auto at = std::chrono::steady_clock::now();
                if (!right) {
                    if (self.m_failures.size() >= kMaxFailingAddresses &&
                        !self.m_failures.count(address)) {
                        const auto oldest = std::min_element(
                            self.m_failures.begin(), self.m_failures.end(),
                            [](const auto &a, const auto &b) {
                                return a.second.order < b.second.order;
                            });
                        self.m_failures.erase(oldest);
                    }
                    Failures &failures = self.m_failures[address];
                    failures.count = std::min(failures.count + 1, 16);
                    failures.order = ++self.m_failureOrder;
                    const int wait =
                        std::min(1 << (failures.count - 1), kMaxLoginDelaySeconds);
                    failures.next = at + std::chrono::seconds(wait);
                    return done(LoginResult::Wrong, {}, wait);
                }
                self.m_failures.erase(address);
                if (self.m_sessions.size() >= kMaxSessions) {
                    const auto oldest = std::min_element(
                        self.m_sessions.begin(), self.m_sessions.end(),
                        [](const auto &a, const auto &b) { return a.second.seen < b.second.seen; });
                    self.m_sessions.erase(oldest);
                }
                const std::string id = randomToken();
                self.m_sessions[id] = {name, at};
                done(LoginResult::Ok, id, 0);
            },
            Qt::QueuedConnection);
    });
}

void Access::logout(const std::string &session)
{
    m_sessions.erase(session);
}

std::string Access::cookie(const std::string &session) const
{
    std::string value = std::string(kCookieName) + "=" + session +
                        "; Path=/; HttpOnly; SameSite=Strict";
    if (session.empty()) value += "; Max-Age=0";
    if (m_secure) value += "; Secure";
    return value;
}

} // namespace zev
