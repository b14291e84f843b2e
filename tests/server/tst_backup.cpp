// Backups as a restore meets them: archives GNU tar and Python's tarfile write, and hostile
// ones (names out of the folder, links, damage, what is not ours), refused before anything is
// written. The server's own backup, end to end, is in tst_guardapi.
#include "files/ParameterFile.h"
#include "server/Backup.h"
#include "service/Archive.h"
#include "support/Sim.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace zev;

namespace {

/// An archive that Python's tarfile writes: each (name, content) a file, "->target" a link.
std::string pythonTar(const QStringList &members)
{
    QProcess python;
    python.start("python3", {"-c", R"(
import io, sys, tarfile
out = io.BytesIO()
with tarfile.open(fileobj=out, mode="w:gz", format=tarfile.PAX_FORMAT) as tar:
    for line in sys.stdin.read().splitlines():
        name, _, body = line.partition("=")
        info = tarfile.TarInfo(name)
        if body.startswith("->"):
            info.type, info.linkname = tarfile.SYMTYPE, body[2:]
            tar.addfile(info)
        else:
            data = (body * (5632 // len(body)) if body.startswith("*") else body).encode()
            info.size = len(data)
            tar.addfile(info, io.BytesIO(data))
sys.stdout.buffer.write(out.getvalue())
)"});
    python.write(members.join('\n').toUtf8());
    python.closeWriteChannel();
    python.waitForFinished();
    return python.readAllStandardOutput().toStdString();
}

int filesUnder(const QString &folder)
{
    int count = 0;
    for (const QFileInfo &info : QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot))
        count += info.isDir() ? filesUnder(info.filePath()) : 1;
    return count;
}

} // namespace

class TestBackup : public QObject {
    Q_OBJECT
private slots:
    void archivesRoundTripAndGnuTarsAreRead();
    void hostileArchivesAreRefusedWhole();
    void aRootRestoreGivesTheFilesToTheStateFoldersOwner();
};

void TestBackup::archivesRoundTripAndGnuTarsAreRead()
{
    // Ours, with a name longer than ustar's 255 bytes and an empty file, read back as written.
    const std::vector<ArchiveEntry> entries{
        {"a/" + std::string(300, 'n') + ".dat", std::string(5632, '\x01')},
        {"empty", {}},
        {"snapshots/2026-12-11/K01.dat", "x"}};
    std::string archive, error;
    QVERIFY(writeTarGz(entries, 1700000000, archive, error));
    std::vector<ArchiveEntry> read;
    QVERIFY2(readTarGz(archive, read, error), error.c_str());
    QCOMPARE(read.size(), entries.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
        QCOMPARE(read[i].path, entries[i].path);
        QCOMPARE(read[i].bytes, entries[i].bytes);
    }
    // GNU tar's own (its long names, folders among the files).
    QTemporaryDir dir;
    const QString deep = dir.filePath("presets/" + QString("長").repeated(40));
    QVERIFY(QDir().mkpath(deep));
    QVERIFY(testing::writeFile(deep + "/K01.dat", "kept"));
    QProcess tar;
    tar.setWorkingDirectory(dir.path());
    tar.start("tar", {"-czf", "-", "presets"});
    QVERIFY(tar.waitForFinished());
    QVERIFY2(readTarGz(tar.readAllStandardOutput().toStdString(), read, error), error.c_str());
    QCOMPARE(read.size(), 1u);
    QCOMPARE(QString::fromStdString(read[0].path), "presets/" + QString("長").repeated(40) + "/K01.dat");
}

void TestBackup::hostileArchivesAreRefusedWhole()
{
    QTemporaryDir dir;
    const RestoreOptions options{dir.filePath("state").toStdString(), dir.filePath("etc").toStdString(), false};
    const auto refusal = [&](const std::string &archive) {
        std::vector<std::string> report;
        std::string error;
        if (restoreBackup(archive, options, report, error)) return std::string("restored");
        return error;
    };
    const QString preset = "presets/Night.dat=*0123456789abcde"; // a whole parameter file
    // Each refused with the entry and why, and nothing written, the good entries beside it too.
    const std::vector<std::pair<QStringList, std::string>> cases{
        {{preset, "../escape.dat=*x"}, "../escape.dat: an empty, '.' or '..' part"},
        {{preset, "/etc/passwd=root"}, "/etc/passwd: a name from the root"},
        {{preset, "presets/../../x.dat=*x"}, "'..' part"},
        {{preset, "presets/link.dat=->/etc/shadow"}, "presets/link.dat: a link, not a file"},
        {{preset, "users=tech technician $argon2id$"}, "users: not part of a backup of zev720d"},
        {{preset, "presets/Short.dat=12 bytes"}, "presets/Short.dat: not a parameter file (8 bytes"},
        {{preset, "presets/.hidden.dat=*x"}, "not a name the server keeps"},
        {{preset, "snapshots/yesterday/K01.dat=*x"}, "not part of a backup"},
        {{preset, R"(limits.json={"limits": [{"register": "Nope"}]})"}, "limits.json: line 1"},
        {{preset, "config/zev720d.conf=colour"}, "config/zev720d.conf: neither a config file nor a venue file"},
        {{preset, preset}, "presets/Night.dat: twice in the archive"},
    };
    for (const auto &[members, expected] : cases) {
        const std::string error = refusal(pythonTar(members));
        QVERIFY2(error.find(expected) != std::string::npos, (members.last() + " -> " + QString::fromStdString(error)).toUtf8());
        QCOMPARE(filesUnder(dir.path()), 0);
    }
    const std::string good = pythonTar({preset, "config/venue.csv=K01, /dev/ttyUSB0"});
    QCOMPARE(refusal(good.substr(0, good.size() / 2)), std::string("cut off"));
    QCOMPARE(refusal("PK\x03\x04 a zip"), std::string("not a gzip file"));
    std::string damaged = good;
    damaged[damaged.size() / 2] ^= 0x55;
    QVERIFY(refusal(damaged).rfind("damaged", 0) == 0 || refusal(damaged).find("header") != std::string::npos);
    QCOMPARE(filesUnder(dir.path()), 0);
    // The good one, whole: the preset and the venue file where they belong.
    QCOMPARE(refusal(good), std::string("restored"));
    QCOMPARE(QFileInfo(dir.filePath("state/presets/Night.dat")).size(), qint64(kParameterFileSize));
    QCOMPARE(testing::readFile(dir.filePath("etc/venue.csv")), "K01, /dev/ttyUSB0");
}

void TestBackup::aRootRestoreGivesTheFilesToTheStateFoldersOwner()
{
    if (geteuid() != 0) QSKIP("only root gives files to another user");
    QTemporaryDir dir;
    const QString state = dir.filePath("state");
    QVERIFY(QDir().mkpath(state));
    QVERIFY(::chown(state.toUtf8().constData(), 65534, 65534) == 0); // the service's user
    std::vector<std::string> report;
    std::string error;
    QVERIFY2(restoreBackup(pythonTar({"snapshots/2026-12-11/K01.dat=*abc"}),
                           {state.toStdString(), {}, false}, report, error), error.c_str());
    for (const QString &path : {state + "/snapshots", state + "/snapshots/2026-12-11",
                                state + "/snapshots/2026-12-11/K01.dat"}) {
        struct stat info {};
        QVERIFY(::stat(path.toUtf8().constData(), &info) == 0);
        QCOMPARE(info.st_uid, uid_t(65534));
    }
}

QTEST_GUILESS_MAIN(TestBackup)
#include "tst_backup.moc"
