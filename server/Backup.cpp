#include "server/Backup.h"

#include "files/AtomicFile.h"
#include "files/ParameterFile.h"
#include "files/TextFile.h"
#include "files/VenueFile.h"
#include "server/ConfigFile.h"
#include "server/FileOwner.h"
#include "service/Archive.h"
#include "service/Limits.h"
#include "service/Presets.h"
#include "service/Schedule.h"
#include "service/Snapshots.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <set>

namespace zev {

namespace {

/// The folders of parameter files, and the files of their own, that a backup holds.
constexpr const char *kParameterFolders[] = {"presets", "modes"};
constexpr const char *kStateFiles[] = {"limits.json", "schedule.json"};
constexpr const char *kLostFolder = "lost";

std::vector<std::string> entriesOf(const std::string &folder, QDir::Filters filter)
{
    std::vector<std::string> out;
    for (const QString &name : QDir(QString::fromStdString(folder)).entryList(filter | QDir::NoDotAndDotDot, QDir::Name))
        out.push_back(name.toStdString());
    return out;
}

/// A folder's parameter files ("NAME.dat", a sound name, 5,632 bytes) into the archive under
/// `inside`.
bool addParameterFiles(const std::string &folder, const std::string &inside,
                       std::vector<ArchiveEntry> &entries, std::string &error)
{
    for (const std::string &file : entriesOf(folder, QDir::Files)) {
        if (file.size() < 5 || file.compare(file.size() - 4, 4, ".dat") ||
            !Presets::nameProblem(file.substr(0, file.size() - 4)).empty())
            continue; // a temporary file of a save, or nothing of ours
        std::string bytes;
        if (readTextFile(folder + "/" + file, kParameterFileSize, bytes, error) != TextFileStatus::Read)
            return false;
        if (bytes.size() == kParameterFileSize) entries.push_back({inside + "/" + file, std::move(bytes)});
    }
    return true;
}

/// What an entry of an archive is, and where it goes.
enum class Kind { Parameters, Limits, Schedule, Config };

struct Planned {
    const ArchiveEntry *entry;
    Kind kind;
    std::string target;
};

/// The entry's problem as a backup's, or empty; its kind and target in `plan`.
std::string planOf(const ArchiveEntry &entry, const RestoreOptions &options, Planned &plan)
{
    std::vector<std::string> parts;
    for (const QString &part : QString::fromStdString(entry.path).split('/'))
        parts.push_back(part.toStdString());
    plan.entry = &entry;
    plan.target = options.state + "/" + entry.path;
    const auto parameterFile = [&](const std::string &file) -> std::string {
        plan.kind = Kind::Parameters;
        if (file.size() < 5 || file.compare(file.size() - 4, 4, ".dat") ||
            !Presets::nameProblem(file.substr(0, file.size() - 4)).empty() ||
            Presets::canonical(file) != file)
            return "not a name the server keeps";
        if (entry.bytes.size() != kParameterFileSize)
            return "not a parameter file (" + std::to_string(entry.bytes.size()) + " bytes, not " +
                   std::to_string(kParameterFileSize) + ")";
        return {};
    };
    if (parts.size() == 2 && std::find(std::begin(kParameterFolders), std::end(kParameterFolders),
                                       parts[0]) != std::end(kParameterFolders))
        return parameterFile(parts[1]);
    if (parts.size() == 3 && parts[0] == "snapshots" &&
        (isSnapshotDate(parts[1]) || parts[1] == kLostFolder))
        return parameterFile(parts[2]);
    std::string error;
    if (parts.size() == 1 && parts[0] == "limits.json") {
        plan.kind = Kind::Limits;
        LimitList list;
        return parseLimits(entry.bytes, entry.path, list, error) ? std::string() : error;
    }
    if (parts.size() == 1 && parts[0] == "schedule.json") {
        plan.kind = Kind::Schedule;
        std::vector<ScheduleEntry> list;
        return parseSchedule(entry.bytes, entry.path, list, error) ? std::string() : error;
    }
    if (parts.size() == 2 && parts[0] == "config" && parts[1].front() != '.') {
        plan.kind = Kind::Config;
        plan.target = options.configDir.empty() ? std::string() : options.configDir + "/" + parts[1];
        std::vector<ConfigWord> words;
        std::vector<VenueRoom> rooms;
        std::string venueError;
        if (entry.bytes.size() <= kMaxConfigBytes && configWords(entry.bytes, parts[1], words, error))
            return {};
        if (entry.bytes.size() <= kMaxVenueFileBytes &&
            parseVenueFile(entry.bytes, parts[1], rooms, venueError) && !rooms.empty())
            return {};
        return "neither a config file nor a venue file (" + error + ")";
    }
    return "not part of a backup of zev720d";
}

} // namespace

bool makeBackup(const std::string &state, const std::vector<std::string> &configFiles,
                long long now, std::string &archive, std::string &error)
{
    std::vector<ArchiveEntry> entries;
    for (const char *folder : kParameterFolders)
        if (!addParameterFiles(state + "/" + folder, folder, entries, error)) return false;
    for (const char *file : kStateFiles) {
        std::string text;
        const TextFileStatus status = readTextFile(state + "/" + file, kMaxBackupBytes, text, error);
        if (status == TextFileStatus::Failed) return false;
        if (status == TextFileStatus::Read) entries.push_back({file, std::move(text)});
    }
    const std::string snapshots = state + "/snapshots";
    for (const std::string &date : entriesOf(snapshots, QDir::Dirs))
        if (isSnapshotDate(date) || date == kLostFolder)
            if (!addParameterFiles(snapshots + "/" + date, "snapshots/" + date, entries, error))
                return false;
    std::set<std::string> taken;
    for (const std::string &file : configFiles) {
        std::string text;
        if (readTextFile(file, kMaxVenueFileBytes, text, error) != TextFileStatus::Read) {
            if (error.empty()) error = file + ": no such file";
            return false;
        }
        std::string name = QFileInfo(QString::fromStdString(file)).fileName().toStdString();
        for (int n = 2; !taken.insert(name).second; ++n)
            name = std::to_string(n) + "-" + QFileInfo(QString::fromStdString(file)).fileName().toStdString();
        entries.push_back({"config/" + name, std::move(text)});
    }
    // No archive that a restore would refuse.
    std::size_t content = 0;
    for (const ArchiveEntry &entry : entries) content += entry.bytes.size();
    if (content > kMaxArchiveContent || entries.size() > kMaxArchiveEntries) {
        error = "more than a restore takes (" + std::to_string(kMaxArchiveContent >> 20) +
                " MiB, " + std::to_string(kMaxArchiveEntries) + " files): keep fewer snapshot days";
        return false;
    }
    return writeTarGz(entries, now, archive, error);
}

bool restoreBackup(std::string_view archive, const RestoreOptions &options,
                   std::vector<std::string> &report, std::string &error)
{
    report.clear();
    std::vector<ArchiveEntry> entries;
    if (!readTarGz(archive, entries, error)) return false;
    // Everything checked, and compared with what is there, before anything is written.
    std::vector<Planned> plans;
    std::vector<std::string> differing;
    int same = 0;
    for (const ArchiveEntry &entry : entries) {
        Planned plan;
        if (const std::string problem = planOf(entry, options, plan); !problem.empty()) {
            error = entry.path + ": " + problem;
            return false;
        }
        if (plan.target.empty()) {
            plans.push_back(std::move(plan));
            continue;
        }
        std::string there, readError;
        switch (fileKind(plan.target)) {
        case FileKind::Missing:
            break;
        case FileKind::Regular:
            if (readTextFile(plan.target, kMaxBackupBytes, there, readError) != TextFileStatus::Read) {
                error = readError;
                return false;
            }
            if (there == entry.bytes) {
                ++same;
                continue;
            }
            differing.push_back(plan.target);
            break;
        default:
            error = plan.target + ": " + kNotARegularFile;
            return false;
        }
        plans.push_back(std::move(plan));
    }
    if (!differing.empty() && !options.replace) {
        error = std::to_string(differing.size()) + " files there differ from the backup's (" +
                differing.front() + (differing.size() > 1 ? ", ..." : "") +
                "); nothing was restored (--replace puts the backup's in their place)";
        return false;
    }

    int done = 0;
    std::set<std::string> dates, configKept;
    const auto makeFolder = [&](const std::string &target, const std::string &top) {
        // Each new folder between `top` and the file: made, private, and the top's owner's.
        const QString parent = QFileInfo(QString::fromStdString(target)).path();
        std::vector<QString> made;
        for (QString at = parent; at.size() > int(top.size()) && !QDir(at).exists();
             at = QFileInfo(at).path())
            made.push_back(at);
        if (!QDir().mkpath(parent)) {
            error = parent.toStdString() + ": the folder cannot be made";
            return false;
        }
        for (const QString &folder : made) {
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            if (!giveToFolderOwner(folder.toStdString(), top, error)) return false;
        }
        return true;
    };
    for (const Planned &plan : plans) {
        const std::string &path = plan.entry->path;
        if (plan.target.empty()) {
            configKept.insert(path.substr(path.find('/') + 1));
            continue;
        }
        const std::string &top = plan.kind == Kind::Config ? options.configDir : options.state;
        if (!QDir().mkpath(QString::fromStdString(top))) {
            error = top + ": the folder cannot be made";
            return false;
        }
        if (!makeFolder(plan.target, top) ||
            !writeFileSafely(plan.target, plan.entry->bytes.data(), plan.entry->bytes.size(), error) ||
            !giveToFolderOwner(plan.target, top, error)) {
            report.push_back("stopped at " + path + ": " + error);
            error = "stopped at " + path + " (" + std::to_string(done) +
                    " files before it restored): " + error;
            return false;
        }
        ++done;
        if (const std::string date = path.substr(10, path.find('/', 10) - 10);
            path.rfind("snapshots/", 0) == 0 && isSnapshotDate(date))
            dates.insert(date);
    }
    const auto count = [&](const char *prefix) {
        return std::count_if(plans.begin(), plans.end(), [&](const Planned &plan) {
            return !plan.target.empty() && plan.entry->path.rfind(prefix, 0) == 0;
        });
    };
    report.push_back("presets: " + std::to_string(count("presets/")) + " restored");
    report.push_back("mode memories: " + std::to_string(count("modes/")) + " rooms restored");
    for (const char *file : kStateFiles)
        if (count(file)) report.push_back(std::string(file) + ": restored");
    report.push_back("snapshots: " + std::to_string(count("snapshots/")) + " files of " +
                     std::to_string(dates.size()) + " dates restored");
    for (const Planned &plan : plans)
        if (plan.kind == Kind::Config && !plan.target.empty())
            report.push_back("config: " + plan.target + " restored");
    if (!configKept.empty()) {
        std::string names;
        for (const std::string &name : configKept) names += (names.empty() ? "" : ", ") + name;
        report.push_back("config: " + names + " left in the archive (--config-dir DIR puts them there)");
    }
    if (same) report.push_back(std::to_string(same) + " files were there already, the same");
    if (!differing.empty())
        report.push_back(std::to_string(differing.size()) + " files that differed were replaced");
    report.push_back("users: not in a backup; add them again (zev720d user add NAME --role ROLE --state " +
                     options.state + ")");
    return true;
}

} // namespace zev
