// Parameter files and the three file commands.
#include "files/ParameterFile.h"
#include "settings/PortSettings.h"
#include "support/Gui.h"
#include "support/Sim.h"
#include "ui/Main.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSlider>
#include <QTest>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace zev;
using testing::readFile;
using testing::WorkingFolder;
using testing::writeFile;

namespace {
void scramble(ParameterModel &model, quint32 pattern)
{
    QRandomGenerator random(pattern);
    random.fillRange(reinterpret_cast<quint32 *>(model.image.data()), 64);
    for (RegisterImage &slot : model.modeSlots)
        random.fillRange(reinterpret_cast<quint32 *>(slot.data()), 64);
}
} // namespace

class TestFiles : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_folder = new WorkingFolder;
        m_form = testing::newMainForm();
    }
    void cleanup()
    {
        delete m_form;
        delete m_folder;
    }
    void saveAndReadBackEverything();
    void filesReadAsFarAsTheyGo();
    void defaultExtension_data();
    void defaultExtension();
    void readCommand();
    void saveCommand();
    void failedSaveKeepsTheOldFile();
    void fullDiskKeepsTheOldFile();
    void factoryReset();
    void hostileFiles();
    void savesReplaceOnlyRegularFiles_data();
    void savesReplaceOnlyRegularFiles();
    void savesInPlaceWhereARenameWouldChangeTheFile();
    void leftoversOfKilledSavesGo();

private:
    WorkingFolder *m_folder = nullptr;
    TMainForm *m_form = nullptr;
};

void TestFiles::saveAndReadBackEverything()
{
    ParameterModel &model = m_form->model();
    scramble(model, 1);
    model.pending[16] = 1;
    const ParameterModel saved = model;
    m_form->SaveParameterFile("all.dat");
    QCOMPARE(QFileInfo("all.dat").size(), 5632);
    scramble(model, 2);
    QVERIFY(m_form->LoadParameterFile("all.dat"));
    QVERIFY(model.image == saved.image);
    QVERIFY(model.modeSlots == saved.modeSlots);
    QCOMPARE(int(model.pending[16]), 1);
    QVERIFY(!m_form->LoadParameterFile("missing.dat"));
    QVERIFY(model.image == saved.image);
}

void TestFiles::filesReadAsFarAsTheyGo()
{
    ParameterModel &model = m_form->model();
    scramble(model, 3);
    const ParameterModel before = model;
    QVERIFY(writeFile("short.dat", QByteArray(300, '\x07')));
    QVERIFY(m_form->LoadParameterFile("short.dat"));
    for (int a = 0; a < 256; ++a)
        QCOMPARE(int(model.image[a]), 7);
    for (int a = 0; a < 44; ++a)
        QCOMPARE(int(model.modeSlots[0][a]), 7);
    for (int a = 44; a < 256; ++a)
        QCOMPARE(model.modeSlots[0][a], before.modeSlots[0][a]);
    QVERIFY(model.modeSlots[1] == before.modeSlots[1]);

    QByteArray longer(6000, '\x09');
    longer[5631] = '\x05';
    QVERIFY(writeFile("long.dat", longer));
    QVERIFY(m_form->LoadParameterFile("long.dat"));
    QCOMPARE(int(model.modeSlots[20][255]), 5);
}

void TestFiles::defaultExtension_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("first");
    QTest::addColumn<QString>("result");
    QTest::newRow("none") << "/d/set" << true << "/d/set.dat";
    QTest::newRow("other") << "/d/set.txt" << true << "/d/set.txt";
    QTest::newRow("point") << "/d/set." << true << "/d/set.";
    QTest::newRow("dotted folder") << "/d.x/set" << true << "/d.x/set.dat";
    QTest::newRow("all files") << "/d/set" << false << "/d/set";
}

void TestFiles::defaultExtension()
{
    QFETCH(QString, name);
    QFETCH(bool, first);
    QFETCH(QString, result);
    QCOMPARE(QString::fromStdString(withDefaultExtension(name.toStdString(), first)), result);
}

void TestFiles::readCommand()
{
    const QString folder = QDir::currentPath();
    testing::chooseFile([&] { m_form->ReadFileBitBtn->click(); }, QString());
    QCOMPARE(m_form->statusPanel(3)->text(), QString("读入文件"));

    QVERIFY(writeFile("set", QByteArray(256, '\x11'))); // exists only without ".dat"
    testing::chooseFile([&] { m_form->ReadFileBitBtn->click(); }, folder + "/set");
    QCOMPARE(m_form->statusPanel(3)->text(), "打不开文件" + folder + "/set.dat;");
    QCOMPARE(int(m_form->model().image[16]), 20);

    testing::chooseFile([&] { m_form->ReadFileBitBtn->click(); }, folder + "/set", 1);
    QCOMPARE(m_form->statusPanel(3)->text(), "已读入文件：" + folder + "/set");
    QCOMPARE(int(m_form->model().image[16]), 0x11);
    QCOMPARE(m_form->trackBar(16)->value(), 17); // shown

    QVERIFY(writeFile("empty.dat", {}));
    testing::chooseFile([&] { m_form->ReadFileBitBtn->click(); }, folder + "/empty");
    QCOMPARE(m_form->statusPanel(3)->text(), "已读入文件：" + folder + "/empty.dat");
    QCOMPARE(int(m_form->model().image[16]), 0x11);
}

void TestFiles::saveCommand()
{
    const QString folder = QDir::currentPath();
    testing::chooseFile([&] { m_form->SaveFileBitBtn->click(); }, QString());
    QCOMPARE(m_form->statusPanel(3)->text(), QString("保存文件"));
    QVERIFY(!QFile::exists("mine.dat"));

    testing::chooseFile([&] { m_form->SaveFileBitBtn->click(); }, folder + "/mine");
    QCOMPARE(m_form->statusPanel(3)->text(), "已保存到文件：" + folder + "/mine.dat");
    QCOMPARE(readFile("mine.dat").size(), 5632);

    m_form->model().image[200] = 99; // saved over the old file without a question
    testing::chooseFile([&] { m_form->SaveFileBitBtn->click(); }, folder + "/mine.dat");
    QCOMPARE(quint8(readFile("mine.dat")[200]), 99);

    // The dialog remembers the entry last chosen: "*.*" adds nothing.
    testing::chooseFile([&] { m_form->SaveFileBitBtn->click(); }, folder + "/plain", 1);
    QVERIFY(QFile::exists("plain"));
    QCOMPARE(m_form->SaveDialog1->selectedNameFilter(), QString("*.*"));
    QCOMPARE(m_form->OpenDialog1->selectedNameFilter(), QString("dat"));
}

void TestFiles::failedSaveKeepsTheOldFile()
{
    const QString folder = QDir::currentPath();
    QVERIFY(writeFile("kept.dat", QByteArray(5632, '\x01')));
    QVERIFY(QFile::setPermissions("kept.dat", QFile::ReadOwner | QFile::ReadGroup));
    const QStringList errors = testing::answerDialogs(
        [&] { testing::chooseFile([&] { m_form->SaveFileBitBtn->click(); }, folder + "/kept"); },
        {QString()});
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].contains("kept.dat"), qPrintable(errors[0]));
    QCOMPARE(m_form->statusPanel(3)->text(), QString("保存文件")); // no success shown
    QCOMPARE(readFile("kept.dat"), QByteArray(5632, '\x01'));
    QCOMPARE(QDir().entryList(QDir::Files).size(), 1); // no temporary file left behind
}

// A disk that fills up halfway: the write fails, the old file stays whole. The limit on the
// file size stands in for the full disk; it holds for root too.
void TestFiles::fullDiskKeepsTheOldFile()
{
    QVERIFY(writeFile("ZEV720Default.dat", QByteArray(5632, '\x02')));
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ZEV_TEST_SAVE_WITH_LIMIT", "1000");
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath());
    QVERIFY(child.waitForFinished(10000));
    const QByteArray said = child.readAllStandardOutput();
    QVERIFY2(said.startsWith("failed:"), said.constData());
    QCOMPARE(readFile("ZEV720Default.dat"), QByteArray(5632, '\x02'));
    QCOMPARE(QDir().entryList(QDir::Files).size(), 1);
}

void TestFiles::factoryReset()
{
    ParameterModel &model = m_form->model();
    scramble(model, 4);
    m_form->SetAllControlsFromImage();
    model.pending.fill(0);
    m_form->LoadDefaultBitBtn->click();
    QCOMPARE(m_form->statusPanel(3)->text(), QString("全部参数改为出厂设置。"));
    QCOMPARE(int(model.image[16]), 20);
    QCOMPARE(m_form->trackBar(16)->value(), 20);
    QCOMPARE(model.pendingCount(), 0); // real-time control off: nothing to send
}

void TestFiles::hostileFiles()
{
    ParameterModel &model = m_form->model();
    const RegisterImage before = model.image;
    QVERIFY(QDir().mkdir("folder.dat")); // a folder is no file, and is reported as such
    QVERIFY_THROWS_EXCEPTION(std::exception, m_form->LoadParameterFile("folder.dat"));

    QVERIFY(::mkfifo("pipe.dat", 0644) == 0); // never waits for a writer
    QVERIFY_THROWS_EXCEPTION(std::exception, m_form->LoadParameterFile("pipe.dat"));
    QVERIFY_THROWS_EXCEPTION(std::exception, m_form->LoadParameterFile("/proc/self/mem"));
    QVERIFY(model.image == before);

    QFile huge("huge.dat"); // 1 GB, mostly holes: only the first 5,632 bytes are read
    QVERIFY(huge.open(QIODevice::WriteOnly));
    huge.write(QByteArray(256, '\x03'));
    QVERIFY(huge.resize(qint64(1) << 30));
    huge.close();
    QVERIFY(m_form->LoadParameterFile("huge.dat"));
    QCOMPARE(int(model.image[0]), 3);
    QCOMPARE(int(model.modeSlots[0][0]), 0);

    QVERIFY(QFile::link("huge.dat", "link.dat")); // read and written through the link
    QVERIFY(m_form->LoadParameterFile("link.dat"));
    QVERIFY(QFile::link("nowhere/target.dat", "dangling.dat"));
    QVERIFY(!m_form->LoadParameterFile("dangling.dat"));
    m_form->SaveParameterFile("link.dat");
    QVERIFY(QFileInfo("link.dat").isSymLink());
    QCOMPARE(QFileInfo("huge.dat").size(), 5632);

    // Unreadable for its user (root reads everything: drop to another user for a moment).
    QVERIFY(writeFile("secret.dat", QByteArray(5632, '\x04')));
    QVERIFY(QFile::setPermissions("secret.dat", {}));
    QVERIFY(::chmod(QDir::currentPath().toLocal8Bit().constData(), 0755) == 0);
    const bool root = ::geteuid() == 0;
    if (root) QVERIFY(::seteuid(65534) == 0);
    bool threw = false;
    try {
        m_form->LoadParameterFile("secret.dat");
    } catch (const std::exception &) {
        threw = true;
    }
    if (root) QVERIFY(::seteuid(0) == 0);
    QVERIFY(threw);
    QCOMPARE(int(model.image[0]), 3);
}

namespace {
// What stands at a name, without following links: kind, device number and link text.
QString describeNode(const char *name)
{
    struct stat info {};
    if (::lstat(name, &info)) return "nothing";
    if (S_ISLNK(info.st_mode)) return "link to " + QFile::symLinkTarget(name);
    return QString("mode %1 rdev %2 size %3")
        .arg(info.st_mode, 0, 8)
        .arg(info.st_rdev)
        .arg(info.st_size);
}
} // namespace

// A save never puts a file where a device, a pipe, a folder or a broken link stands, whether
// the name is that thing or links to it; the default file, a chosen file and "ZEV720.cfg" alike.
void TestFiles::savesReplaceOnlyRegularFiles_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("reason");
    QTest::newRow("link to a device") << "device"
                                      << "不是普通文件";
    QTest::newRow("link to a pipe") << "pipe"
                                    << "不是普通文件";
    QTest::newRow("a pipe") << "self-pipe"
                            << "不是普通文件";
    QTest::newRow("a folder") << "folder"
                              << "不是普通文件";
    QTest::newRow("dangling link") << "dangling"
                                   << "不是普通文件";
    QTest::newRow("link loop") << "loop" << QString::fromLocal8Bit(std::strerror(ELOOP));
}

void TestFiles::savesReplaceOnlyRegularFiles()
{
    QFETCH(QString, setup);
    QFETCH(QString, reason);
    const QStringList names = {"ZEV720Default.dat", "chosen.dat", "ZEV720.cfg"};
    for (const QString &name : names) {
        const QByteArray target = (name + ".target").toLocal8Bit();
        const QByteArray link = name.toLocal8Bit();
        if (setup == "device") {
            if (::geteuid() != 0) QSKIP("making a device node needs root");
            QVERIFY(::mknod(target, S_IFCHR | 0666, makedev(1, 3)) == 0); // as /dev/null
            QVERIFY(::symlink(target, link) == 0);
        } else if (setup == "pipe") {
            QVERIFY(::mkfifo(target, 0666) == 0);
            QVERIFY(::symlink(target, link) == 0);
        } else if (setup == "self-pipe") {
            QVERIFY(::mkfifo(link, 0666) == 0);
        } else if (setup == "folder") {
            QVERIFY(QDir().mkdir(name));
        } else if (setup == "dangling") {
            QVERIFY(::symlink(target, link) == 0);
        } else {
            QVERIFY(::symlink(link, target) == 0);
            QVERIFY(::symlink(target, link) == 0);
        }
    }
    auto snapshot = [&] {
        QStringList nodes;
        for (const QString &name : names)
            nodes << describeNode(name.toLocal8Bit())
                  << describeNode((name + ".target").toLocal8Bit());
        return nodes << QDir().entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    };
    const QStringList before = snapshot();

    // At exit, from the save command, and from the settings dialog's "设置".
    const QStringList errors = testing::answerDialogs([&] { m_form->close(); }, {QString()});
    QString chosenError;
    try {
        m_form->SaveParameterFile(QDir::current().filePath("chosen.dat"));
    } catch (const std::exception &error) {
        chosenError = QString::fromUtf8(error.what());
    }
    std::string settingsError;
    QVERIFY(!SavePortSettings(settingsError));

    QCOMPARE(errors.size(), 1);
    for (const QString &error :
         errors + QStringList{chosenError, QString::fromStdString(settingsError)})
        QVERIFY2(error.endsWith(": " + reason), qPrintable(error));
    QCOMPARE(snapshot(), before);
}

// Where a rename would cut hard links, take the file from its owner, or cannot be made in the
// folder, the file is written in place: the same file, with its links, owner and content.
void TestFiles::savesInPlaceWhereARenameWouldChangeTheFile()
{
    ParameterModel &model = m_form->model();
    scramble(model, 11);
    std::string error;
    QVERIFY2(writeParameterFile("fresh.dat", model, error), error.c_str());
    const QByteArray expected = readFile("fresh.dat");
    auto inode = [](const char *name) {
        struct stat info {};
        ::stat(name, &info);
        return info.st_ino;
    };
    SaveMethod used{};

    // A plain file of ours in an open folder: replaced whole through a new file.
    QVERIFY(writeFile("plain.dat", "old"));
    const auto plainBefore = inode("plain.dat");
    QVERIFY(writeParameterFile("plain.dat", model, error, &used));
    QCOMPARE(used, SaveMethod::Replaced);
    QVERIFY(inode("plain.dat") != plainBefore);

    // Hard links.
    QVERIFY(writeFile("linked.dat", "old"));
    QVERIFY(::link("linked.dat", "other-name.dat") == 0);
    const auto linkedBefore = inode("linked.dat");
    QVERIFY(writeParameterFile("linked.dat", model, error, &used));
    QCOMPARE(used, SaveMethod::InPlace);
    QCOMPARE(inode("linked.dat"), linkedBefore);
    QCOMPARE(readFile("other-name.dat"), expected);

    // Another user's file, saved by root, keeps its owner.
    if (::geteuid() == 0) {
        QVERIFY(writeFile("theirs.dat", QByteArray(9000, 'x'))); // longer: cut to size
        QVERIFY(::chown("theirs.dat", 65534, 65534) == 0);
        QVERIFY(writeParameterFile("theirs.dat", model, error, &used));
        QCOMPARE(used, SaveMethod::InPlace);
        struct stat info {};
        QVERIFY(::stat("theirs.dat", &info) == 0);
        QCOMPARE(int(info.st_uid), 65534);
        QCOMPARE(readFile("theirs.dat"), expected);
    }

    // A folder that takes no new file, with a writable default file in it.
    QVERIFY(QDir().mkdir("closed"));
    QVERIFY(writeFile("closed/ZEV720Default.dat", "old"));
    const bool root = ::geteuid() == 0;
    if (root) { // root may create anywhere: save as a user who owns the file, not the folder
        QVERIFY(::chown("closed/ZEV720Default.dat", 65534, 65534) == 0);
        QVERIFY(::chmod(QDir::currentPath().toLocal8Bit(), 0755) == 0);
    }
    QVERIFY(::chmod("closed", 0555) == 0);
    if (root) QVERIFY(::setegid(65534) == 0 && ::seteuid(65534) == 0);
    const bool saved = writeParameterFile("closed/ZEV720Default.dat", model, error, &used);
    if (root) QVERIFY(::seteuid(0) == 0 && ::setegid(0) == 0);
    QVERIFY(::chmod("closed", 0755) == 0);
    QVERIFY2(saved, error.c_str());
    QCOMPARE(used, SaveMethod::InPlace);
    QCOMPARE(readFile("closed/ZEV720Default.dat"), expected);
    QCOMPARE(QDir("closed").entryList(QDir::Files), QStringList{"ZEV720Default.dat"});
}

// A kill during a save leaves a temporary file of a name that only this program uses; the next
// save of the same file removes it, and nothing else: not the temporary file of a save still
// running, nor another file's, nor anything that merely looks alike.
void TestFiles::leftoversOfKilledSavesGo()
{
    const QString marker = kTemporaryMarker;
    const QString abandoned = "ZEV720Default.dat" + marker + "Ab3xY9";
    const QString running = "ZEV720Default.dat" + marker + "Qw7rT2";
    const QStringList kept = {
        running,
        "other.dat" + marker + "Ab3xY9",      // another target's
        "ZEV720Default.dat.Ab3xY9",           // not our pattern
        "ZEV720Default.dat" + marker + "Ab3", // nor this
        "ZEV720Default.dat" + marker + "Zz9Zz9",
    };
    for (const QString &name : QStringList{abandoned} + kept.mid(0, 4))
        QVERIFY(writeFile(name, "left"));
    QVERIFY(QFile::link("ZEV720Default.dat.target", kept.last())); // a link of that name stays
    const int held = ::open(running.toLocal8Bit(), O_RDONLY);
    QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0); // as a save in progress holds it

    std::string error;
    QVERIFY2(writeParameterFile(kDefaultParameterFile, m_form->model(), error), error.c_str());
    ::close(held);
    QVERIFY(!QFileInfo::exists(abandoned));
    for (const QString &name : kept)
        QVERIFY2(QFileInfo(name).isSymLink() || QFileInfo::exists(name), qPrintable(name));
}

// With ZEV_TEST_SAVE_WITH_LIMIT set, this program writes the default file under that file
// size limit and says how it went.
int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet("ZEV_TEST_SAVE_WITH_LIMIT")) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(qEnvironmentVariableIntValue("ZEV_TEST_SAVE_WITH_LIMIT")),
                           RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &limit);
        ParameterModel model;
        std::string error;
        const bool saved = writeParameterFile(kDefaultParameterFile, model, error);
        std::printf("%s\n", saved ? "saved" : ("failed: " + error).c_str());
        return 0;
    }
    QApplication app(argc, argv);
    TestFiles test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_files.moc"
