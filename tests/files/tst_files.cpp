// Parameter files and the three file commands.
#include "files/ParameterFile.h"
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
#include <sys/resource.h>
#include <sys/stat.h>
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
    QVERIFY(QDir().mkdir("folder.dat")); // a folder is no file
    QVERIFY(!m_form->LoadParameterFile("folder.dat"));

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
