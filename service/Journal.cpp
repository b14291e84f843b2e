#include "service/Journal.h"

#include "service/Clock.h"

#include "files/Json.h"
#include "model/RegisterMap.h"
#include "model/Shown.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace zev {
namespace {

bool byteOf(const JsonValue *value, std::uint8_t &byte)
{
    if (!value || !value->isIntegerIn(0, 255)) return false;
    byte = std::uint8_t(value->number);
    return true;
}

} // namespace

void writeJournalMembers(JsonWriter &out, const JournalEntry &entry)
{
    const RegisterRow *row = findRegister(entry.address);
    out.field("id", entry.id)
        .field("time", entry.time)
        .field("room", entry.room)
        .field("address", entry.address)
        .field("name", row ? machineName(*row) : "")
        .field("before", entry.before)
        .field("after", entry.after)
        .field("user", entry.user)
        .field("through", entry.through);
    if (!entry.undoes.empty()) {
        out.key("undoes").array();
        for (const std::uint64_t id : entry.undoes) out.number(static_cast<long long>(id));
        out.end();
    }
}

std::string journalLine(const JournalEntry &entry)
{
    JsonWriter out;
    out.object();
    writeJournalMembers(out, entry);
    return out.end().take();
}

bool journalEntryFromLine(const std::string &line, JournalEntry &entry)
{
    JsonValue root;
    std::string error;
    if (line.size() > kMaxJournalLine || !parseJson(line, root, error) ||
        root.type != JsonValue::Type::Object)
        return false;
    const JsonValue *id = root.find("id");
    const JsonValue *time = root.find("time");
    const JsonValue *room = root.find("room");
    const JsonValue *user = root.find("user");
    const JsonValue *through = root.find("through");
    entry = {};
    if (!id || !id->isIntegerIn(1, 9007199254740991.0) || !time ||
        time->type != JsonValue::Type::String || !room || room->type != JsonValue::Type::String ||
        !user || user->type != JsonValue::Type::String || !through ||
        through->type != JsonValue::Type::String || !byteOf(root.find("address"), entry.address) ||
        !byteOf(root.find("before"), entry.before) || !byteOf(root.find("after"), entry.after) ||
        !findRegister(entry.address))
        return false;
    entry.id = std::uint64_t(id->number);
    entry.time = time->text;
    entry.room = room->text;
    entry.user = user->text;
    entry.through = through->text;
    if (const JsonValue *undoes = root.find("undoes")) {
        if (undoes->type != JsonValue::Type::Array) return false;
        for (const JsonValue &item : undoes->items) {
            if (!item.isIntegerIn(1, 9007199254740991.0)) return false;
            entry.undoes.push_back(std::uint64_t(item.number));
        }
    }
    return true;
}

Journal::Journal(std::string folder, std::size_t maxBytes, QObject *parent)
    : QObject(parent), m_folder(std::move(folder)), m_maxBytes(std::max<std::size_t>(maxBytes, 8192))
{
    m_sync.setSingleShot(true);
    QObject::connect(&m_sync, &QTimer::timeout, this, [this] { sync(); });
}

Journal::~Journal()
{
    sync();
}

void Journal::read(const std::string &path, bool current)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) return;
    qint64 good = 0; // the end of the last whole line
    while (!file.atEnd()) {
        const QByteArray raw = file.readLine(qint64(kMaxJournalLine) + 2);
        if (!raw.endsWith('\n')) { // cut off by a crash, or far too long
            ++m_dropped;
            if (raw.size() > qint64(kMaxJournalLine)) { // skip the rest of an overlong line
                while (!file.atEnd() && !file.readLine(qint64(kMaxJournalLine)).endsWith('\n')) {
                }
                good = file.pos();
            }
            continue;
        }
        good = file.pos();
        JournalEntry entry;
        if (!journalEntryFromLine(raw.chopped(1).toStdString(), entry)) {
            ++m_dropped;
            continue;
        }
        take(std::move(entry));
    }
    file.close();
    // New lines start after the last whole one.
    if (current && good < QFileInfo(file).size()) QFile::resize(file.fileName(), good);
}

void Journal::take(JournalEntry entry)
{
    m_next = std::max(m_next, entry.id + 1);
    std::deque<JournalEntry> &room = m_rooms[entry.room];
    for (std::uint64_t id : entry.undoes)
        for (JournalEntry &earlier : room)
            if (earlier.id == id) earlier.undone = true;
    room.push_back(std::move(entry));
    if (room.size() > kHistoryPerRoom) room.pop_front();
}

bool Journal::open(std::string &error)
{
    const std::string path = m_folder + "/journal";
    // Only files: a device or a pipe in its place would be read for ever.
    for (const std::string &name : {path + ".1", path}) {
        const QFileInfo info(QString::fromStdString(name));
        if (info.exists() && !info.isFile()) {
            error = name + ": not a plain file";
            return false;
        }
    }
    read(path + ".1", false);
    read(path, true);
    m_file = std::make_unique<QFile>(QString::fromStdString(path));
    if (!m_file->open(QIODevice::WriteOnly | QIODevice::Append)) {
        error = path + ": " + m_file->errorString().toStdString();
        return false;
    }
    return true;
}

const JournalEntry &Journal::append(JournalEntry entry)
{
    entry.id = m_next++;
    entry.time = (m_clock ? *m_clock : processClock()).nowText();
    const std::string line = journalLine(entry) + "\n";
    if (m_file && m_file->isOpen()) {
        if (m_file->size() + qint64(line.size()) > qint64(m_maxBytes / 2)) rotate();
        // In the system's hands once flushed: a crash of this program loses nothing.
        if (m_file->write(line.data(), qint64(line.size())) != qint64(line.size()) ||
            !m_file->flush()) {
            if (m_failedWrites++ == 0)
                qWarning("zev720d: %s: %s (the changes stay in memory, counted in /metrics)",
                         qPrintable(m_file->fileName()), qPrintable(m_file->errorString()));
        }
        m_dirty = true;
        if (!m_sync.isActive()) m_sync.start(kSyncMs);
    }
    const std::string room = entry.room;
    take(std::move(entry));
    return m_rooms[room].back();
}

const std::deque<JournalEntry> &Journal::history(const std::string &room) const
{
    static const std::deque<JournalEntry> none;
    const auto it = m_rooms.find(room);
    return it == m_rooms.end() ? none : it->second;
}

void Journal::sync()
{
    if (!m_dirty || !m_file || !m_file->isOpen()) return;
    m_file->flush();
    ::fdatasync(m_file->handle());
    m_dirty = false;
}

void Journal::rotate()
{
    sync();
    const QString path = m_file->fileName();
    m_file->close();
    QFile::remove(path + ".1");
    QFile::rename(path, path + ".1");
    m_file->open(QIODevice::WriteOnly | QIODevice::Append);
    // The rename is made to last too: the folder's entry is flushed.
    const int folder = ::open(QFileInfo(path).absolutePath().toLocal8Bit().constData(), O_RDONLY);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

} // namespace zev
