// The schedule at work: looks at the clock with the venue service's beat, runs what is due
// through the service (recalls, locks and switches of limit sets, as user "schedule",
// journaled through "schedule", or "catch-up" for a run made late), and keeps in the state
// folder what it ran and when it last looked (schedule-state.json), so that nothing runs
// twice and a restart catches up. The rules of when are service/Schedule's.
//
// Thread safety: none; the thread of the event loop.
#pragma once

#include "service/Schedule.h"
#include "service/VenueService.h"

#include <QObject>
#include <map>
#include <string>
#include <vector>

namespace zev {

/// A run made this long after its time is a catch-up.
constexpr int kLateRunSeconds = 90;
/// The time of the last look is kept at least this often.
constexpr int kLookKeptSeconds = 300;

class Scheduler : public QObject {
    Q_OBJECT
public:
    explicit Scheduler(VenueService &service, QObject *parent = nullptr);

    /// Reads "schedule.json" and "schedule-state.json" of the folder; none is an empty
    /// schedule. False with `error` when the schedule is refused.
    bool load(const std::string &folder, std::string &error);
    const std::vector<ScheduleEntry> &entries() const { return m_entries; }
    /// A new schedule, as its file's text: checked, kept, and run from now on (nothing of it
    /// is caught up from before).
    Refusal put(const std::string &text);

    struct Coming {
        const ScheduleEntry *entry = nullptr;
        QDateTime at; ///< UTC
        std::vector<std::string> rooms;
    };
    /// What will run in the next 24 hours, in order, with the rooms it will touch.
    std::vector<Coming> tonight() const;

    /// Runs what is due by `now` (the service's beat calls it).
    void look(const QDateTime &now);

signals:
    /// An entry ran (late: caught up), with the rooms it reached now and those it waits for.
    void ran(const std::string &entry, bool late, int rooms, int waiting);

private:
    void act(const ScheduleEntry &entry, const std::vector<HeldRoom *> &rooms, bool late);
    bool touches(const ScheduleEntry &entry, const HeldRoom &room) const;
    void keepState();
    const ScheduleEntry *find(const std::string &name) const;

    VenueService &m_service;
    std::vector<ScheduleEntry> m_entries;
    std::string m_folder;
    std::map<std::string, QDateTime> m_lastRun; ///< by entry
    QDateTime m_lastLook;   ///< this run's, or the state file's before the first
    QDateTime m_lookKept;   ///< when the state file was written
    std::map<HeldRoom *, std::string> m_waiting; ///< rooms away at their run: the entry
};

} // namespace zev
