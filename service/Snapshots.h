// Every room's settings kept each night: its 56 registers and its mode memories as a parameter
// file, DIR/snapshots/DATE/ROOM.dat (the date of the venue's clock), written with the safe
// saves; taken at a time of day (and on demand), the oldest beyond `keepDays` removed. A
// room's page lists its snapshots and compares one with the room now.
//
// Thread safety: none; the thread of the event loop.
#pragma once

#include "service/VenueService.h"

#include <QObject>
#include <string>
#include <vector>

namespace zev {

constexpr int kDefaultSnapshotDays = 30;
/// A night's snapshot that kept no room is tried again this often.
constexpr int kSnapshotRetrySeconds = 600;

struct SnapshotResult {
    Refusal refusal;
    std::string date;
    std::vector<std::string> rooms;   ///< kept
    std::vector<std::string> skipped; ///< not read yet: nothing to keep
};

class Snapshots : public QObject {
    Q_OBJECT
public:
    /// `folder`: DIR/snapshots; `minute`: the time of day they are taken (-1: only on demand).
    Snapshots(VenueService &service, std::string folder, int minute, int keepDays,
              QObject *parent = nullptr);
    /// Every room read now, kept under today's date (a second one the same day replaces it).
    SnapshotResult take();
    /// The dates kept, newest first.
    std::vector<std::string> dates() const;
    /// A room's snapshot of a date; NotFound when there is none.
    Refusal load(const std::string &date, const std::string &room, ParameterModel &model) const;

private:
    void looked(const QDateTime &now);
    void prune(const QDate &today);

    VenueService &m_service;
    std::string m_folder;
    int m_minute = -1;
    int m_keepDays = kDefaultSnapshotDays;
    QDateTime m_tried; ///< the last try at a night's snapshot
};

/// "2026-12-10": a date as the folders are named; false for anything else.
bool isSnapshotDate(const std::string &text);

} // namespace zev
