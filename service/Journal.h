// The venue server's journal: every confirmed change of a register, one JSON line each, in
// the state folder ("journal", and "journal.1" before it).
//
//   {"id":12,"time":"2026-12-09T10:00:00.000Z","room":"A01","address":16,
//    "name":"MusicVolumeTrackBar","before":20,"after":28,"user":"tech","through":"api"}
//   an undo's change also names the changes it undid: "undoes":[10,11]
//
// Durability: a line is written to the file as the change is confirmed, so a crash of the
// server loses nothing, and the file is flushed to the disk within kSyncMs, so a power cut
// loses at most that. A line cut off by a power cut is dropped when the journal is opened
// again, and so is any line that is not a journal line; what stands before it stays.
// Size: when "journal" passes half of `maxBytes` it becomes "journal.1" (the one before is
// dropped), so the two together stay within `maxBytes`, the oldest going first.
//
// Each room's latest kHistoryPerRoom changes are kept in memory for its history and undo.
//
// Thread safety: none; the thread of the event loop.
#pragma once

#include "files/Json.h"

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QFile;

namespace zev {

class Clock;

constexpr int kSyncMs = 1000;
constexpr std::size_t kHistoryPerRoom = 1000;
constexpr std::size_t kDefaultJournalBytes = 16 * 1024 * 1024;
/// A journal line is never near this; a longer one is not a journal line.
constexpr std::size_t kMaxJournalLine = 4096;

struct JournalEntry {
    std::uint64_t id = 0;
    std::string time; ///< UTC, ISO 8601 with milliseconds
    std::string room;
    std::uint8_t address = 0;
    std::uint8_t before = 0;
    std::uint8_t after = 0;
    std::string user;
    std::string through;
    std::vector<std::uint64_t> undoes;
    bool undone = false; ///< a later change undid it (kept in memory, from the later line)
};

/// The members of a journal line, for the line itself and for answers that say more of it.
void writeJournalMembers(JsonWriter &out, const JournalEntry &entry);
std::string journalLine(const JournalEntry &entry);
/// False for a line that is not a journal line.
bool journalEntryFromLine(const std::string &line, JournalEntry &entry);

class Journal : public QObject {
    Q_OBJECT
public:
    Journal(std::string folder, std::size_t maxBytes, QObject *parent = nullptr);
    ~Journal() override; ///< flushes to the disk
    /// Reads what the files hold and opens "journal" for appending; false with `error`.
    bool open(std::string &error);
    /// The clock whose time the lines get (the process's unless set).
    void setClock(const Clock *clock) { m_clock = clock; }
    /// Appends with the next id and the current time; returns the entry as written.
    const JournalEntry &append(JournalEntry entry);
    /// The room's latest changes, oldest first.
    const std::deque<JournalEntry> &history(const std::string &room) const;
    /// Lines dropped when opened (cut off, or not journal lines).
    int dropped() const { return m_dropped; }
    /// Lines that could not be written (a full disk): told once, then counted.
    std::uint64_t failedWrites() const { return m_failedWrites; }
    void sync();

private:
    void read(const std::string &path, bool current);
    void rotate();
    void take(JournalEntry entry);

    std::string m_folder;
    std::size_t m_maxBytes;
    std::unique_ptr<QFile> m_file;
    std::map<std::string, std::deque<JournalEntry>> m_rooms;
    std::uint64_t m_next = 1;
    int m_dropped = 0;
    std::uint64_t m_failedWrites = 0;
    bool m_dirty = false;
    const Clock *m_clock = nullptr;
    QTimer m_sync;
};

} // namespace zev
