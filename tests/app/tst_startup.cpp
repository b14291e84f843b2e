// Start-up and shutdown: in-process for the window's states, and the real program for the
// end of a session.
#include "files/ParameterFile.h"
#include "support/Gui.h"
#include "support/Sim.h"
#include "ui/Main.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <memory>
#include <unistd.h>
#include <sys/stat.h>

using namespace zev;
using testing::readFile;
using testing::Sim;
using testing::writeFile;

namespace {
// The real program in `folder`, with port 1 on the emulator, reporting its first frame.
void startPanel(QProcess &panel, const Sim &sim, const QString &folder)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ZEV720_COM1", sim.path());
    environment.insert("ZEV720_STARTUP_REPORT", "1");
    panel.setProcessEnvironment(environment);
    panel.setWorkingDirectory(folder);
    panel.start(testing::buildDir() + "/zev720");
    if (!panel.waitForStarted()) qFatal("zev720 does not start");
}

// What the program said on standard error until its window was first drawn.
QByteArray waitForFirstFrame(QProcess &panel)
{
    QByteArray said;
    QElapsedTimer clock;
    clock.start();
    while (!said.contains("first frame") && clock.elapsed() < 10000) {
        panel.waitForReadyRead(100);
        said += panel.readAllStandardError();
    }
    return said;
}

QByteArray fileOf(const ParameterModel &model)
{
    QByteArray bytes(reinterpret_cast<const char *>(model.image.data()), 256);
    for (const RegisterImage &slot : model.modeSlots)
        bytes.append(reinterpret_cast<const char *>(slot.data()), 256);
    return bytes;
}
} // namespace

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void firstStartInAnEmptyFolder();
    void startWithTheProcessorSwitchedOff();
    void startConnectedSendsNothing();
    void closingReleasesTheProcessor();
    void defaultFileSelectsItsModes();
    void defaultFileThatCannotBeOpened_data();
    void defaultFileThatCannotBeOpened();
    void defaultFileThatCannotBeWrittenAtExit();
    void sessionEndClosesTheRealProgram_data();
    void sessionEndClosesTheRealProgram();
    void sessionEndWithAFailingSaveReleasesAndEnds_data();
    void sessionEndWithAFailingSaveReleasesAndEnds();

private:
    std::unique_ptr<testing::WorkingFolder> m_folder;
};

void TestStartup::init()
{
    m_folder = std::make_unique<testing::WorkingFolder>();
    qputenv("ZEV720_COM1",
            QByteArray("/nonexistent/zev720-test-port-") + QByteArray::number(qint64(getpid())));
}

void TestStartup::cleanup()
{
    m_folder.reset();
    for (int port = 0; port < 16; ++port)
        systemSerialLibrary().closePort(port);
}

void TestStartup::firstStartInAnEmptyFolder()
{
    auto form = std::make_unique<TMainForm>();
    QVERIFY(form->radioButton(49, 2)->isChecked());
    QVERIFY(form->radioButton(23, 0)->isChecked());
    QVERIFY(form->radioButton(36, 0)->isChecked());
    QCOMPARE(form->trackBar(16)->value(), 20);
    QCOMPARE(form->statusPanel(0)->text(), QString("断开"));
    QCOMPARE(form->statusPanel(1)->text(), QString("实时"));
    QCOMPARE(form->RunCtlDataBitBtn->text(), QString("实时调节机器"));
    QVERIFY(form->statusPanel(3)->text().startsWith("串口打开错误，请检查串口号："));
    QCOMPARE(form->model().pendingCount(), 0);
    QVERIFY(!QFile::exists(kDefaultParameterFile));

    QSignalSpy closed(form.get(), &TMainForm::closed);
    form->close();
    QCOMPARE(closed.count(), 1);
    ParameterModel factory;
    factory.image[44] = factory.image[49] = 1;
    factory.loadFactoryValues();
    QCOMPARE(readFile(kDefaultParameterFile), fileOf(factory));
}

void TestStartup::startWithTheProcessorSwitchedOff()
{
    Sim sim({"--silent"});
    sim.becomePort(1);
    TMainForm form;
    QCOMPARE(form.statusPanel(0)->text(), QString("断开"));
    QCOMPARE(form.statusPanel(1)->text(), QString("实时"));
    QCOMPARE(form.RunCtlDataBitBtn->text(), QString("实时调节机器"));
    QCOMPARE(form.statusPanel(3)->text(), QString("通讯连接失败！机器可能未开机"));
    QVERIFY(!form.Timer1->isActive());
}

void TestStartup::startConnectedSendsNothing()
{
    QFile file(kDefaultParameterFile); // settings that differ from the processor's
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(256, '\x05'));
    file.close();
    Sim sim;
    sim.becomePort(1);
    TMainForm form;
    QCOMPARE(form.statusPanel(0)->text(), QString("联机"));
    QCOMPARE(form.statusPanel(1)->text(), QString("实时"));
    QCOMPARE(form.statusPanel(3)->text(), QString("实时调节，任何改动将实时控制机器。"));
    QVERIFY(form.Timer1->isActive());
    for (int tick = 0; tick < 10; ++tick) {
        form.Timer1Timer();
        QTest::qSleep(3);
    }
    QCOMPARE(sim.frames().size(), 1); // the handshake only
    form.trackBar(60)->setValue(10);
    form.Timer1Timer();
    QVERIFY(sim.waitForFrames(2));
    QCOMPARE(sim.frames()[1].address(), 60);
}

void TestStartup::closingReleasesTheProcessor()
{
    {
        Sim sim;
        sim.becomePort(1);
        TMainForm form;
        QElapsedTimer clock;
        clock.start();
        form.close();
        QVERIFY(clock.elapsed() >= 100);
        QVERIFY(sim.waitForFrames(2));
        QTest::qSleep(20);
        QCOMPARE(sim.frames().size(), 2);
        QCOMPARE(sim.frames()[1].bytes, testing::hex("FE 07 66 6D FD"));
        QVERIFY(!form.Timer1->isActive());
        form.close(); // once is enough: nothing more happens
        QCOMPARE(sim.frames().size(), 2);
    }
    TMainForm closedPort; // the port never opened: nothing to write, the wait all the same
    QElapsedTimer clock;
    clock.start();
    closedPort.close();
    QVERIFY(clock.elapsed() >= 100);
    QCOMPARE(readFile(kDefaultParameterFile).size(), 5632);
}

void TestStartup::defaultFileSelectsItsModes()
{
    ParameterModel stored;
    stored.loadFactoryValues();
    stored.image[49] = 3;
    stored.image[23] = 8;
    stored.image[36] = 4;
    stored.image[16] = 87; // the bar's own start position: it does not move
    QFile file(kDefaultParameterFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(fileOf(stored));
    file.close();
    TMainForm form;
    QVERIFY(form.radioButton(49, 3)->isChecked());
    QVERIFY(form.radioButton(23, 8)->isChecked());
    QVERIFY(form.radioButton(36, 4)->isChecked());
    QVERIFY(form.trackBar(50)->isEnabled());
    QCOMPARE(form.trackBar(16)->value(), 87);
    QCOMPARE(form.valueLabel(16)->text(), QString("0dB"));
    QCOMPARE(form.model().pendingCount(), 0);
}

void TestStartup::defaultFileThatCannotBeOpened_data()
{
    QTest::addColumn<bool>("folder");
    QTest::newRow("pipe") << false;
    QTest::newRow("folder") << true;
}

void TestStartup::defaultFileThatCannotBeOpened()
{
    QFETCH(bool, folder);
    QVERIFY(folder ? ::mkdir(kDefaultParameterFile, 0755) == 0
                   : ::mkfifo(kDefaultParameterFile, 0644) == 0);
    std::unique_ptr<TMainForm> form;
    const QStringList errors =
        testing::answerDialogs([&] { form = std::make_unique<TMainForm>(); }, {QString()});
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].contains(kDefaultParameterFile), qPrintable(errors[0]));
    QVERIFY2(errors[0].endsWith("不是普通文件"), qPrintable(errors[0]));
    QCOMPARE(form->trackBar(16)->value(), 20); // factory values, and a normal start
    QCOMPARE(form->statusPanel(1)->text(), QString("实时"));
}

void TestStartup::defaultFileThatCannotBeWrittenAtExit()
{
    Sim sim;
    sim.becomePort(1);
    TMainForm form;
    QFile old(kDefaultParameterFile);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    QVERIFY(QFile::setPermissions(kDefaultParameterFile, QFile::ReadOwner));
    QSignalSpy closed(&form, &TMainForm::closed);
    qsizetype framesWhenAsked = -1; // the box comes once the processor is released
    QTimer watch;
    watch.callOnTimeout([&] {
        if (framesWhenAsked < 0 && QApplication::activeModalWidget())
            framesWhenAsked = sim.frames().size();
    });
    watch.start(1);
    const QStringList errors = testing::answerDialogs([&] { form.close(); }, {QString()});
    QCOMPARE(errors.size(), 1);
    QCOMPARE(framesWhenAsked, 2);
    QCOMPARE(closed.count(), 1);
    QVERIFY(form.isHidden());
    QVERIFY(sim.waitForFrames(2)); // the processor is released all the same
    QCOMPARE(sim.frames()[1].address(), 7);
    QCOMPARE(readFile(kDefaultParameterFile), QByteArray("old"));
}

void TestStartup::sessionEndClosesTheRealProgram_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestStartup::sessionEndClosesTheRealProgram()
{
    QFETCH(int, signal);
    Sim sim;
    QProcess panel;
    startPanel(panel, sim, m_folder->path());
    waitForFirstFrame(panel);
    ::kill(pid_t(panel.processId()), signal);
    QVERIFY(panel.waitForFinished(5000));
    QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
    QCOMPARE(panel.exitCode(), 0);
    QVERIFY(sim.waitForFrames(2));
    QTest::qSleep(20);
    QList<int> addresses;
    for (const auto &frame : sim.frames())
        addresses << frame.address();
    QCOMPARE(addresses, (QList<int>{6, 7}));
    QCOMPARE(readFile(m_folder->file(kDefaultParameterFile)).size(), 5632);
}

// A close that nobody can answer: the session ends while the default file cannot be written.
// The processor is released, the error goes to standard error, and the program ends. The
// folder is there from the start (its box at start-up is dismissed too) or comes later.
void TestStartup::sessionEndWithAFailingSaveReleasesAndEnds_data()
{
    QTest::addColumn<bool>("fromTheStart");
    QTest::newRow("folder made while running") << false;
    QTest::newRow("folder there at start") << true;
}

void TestStartup::sessionEndWithAFailingSaveReleasesAndEnds()
{
    QFETCH(bool, fromTheStart);
    const QString defaultFile = m_folder->file(kDefaultParameterFile);
    if (fromTheStart) QVERIFY(QDir().mkdir(defaultFile));
    Sim sim;
    QProcess panel;
    startPanel(panel, sim, m_folder->path());
    QByteArray said;
    if (fromTheStart) {
        QTest::qWait(1500); // the start-up's error box is up by now
    } else {
        said = waitForFirstFrame(panel);
        QVERIFY(QDir().mkdir(defaultFile));
    }
    ::kill(pid_t(panel.processId()), SIGTERM);
    QVERIFY2(panel.waitForFinished(10000), "still running after SIGTERM");
    said += panel.readAllStandardError();
    QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
    QCOMPARE(panel.exitCode(), 1);
    QVERIFY2(said.contains(kDefaultParameterFile) && said.contains("不是普通文件"),
             said.constData());
    QVERIFY(sim.waitForFrames(2));
    QCOMPARE(sim.frames().last().bytes, testing::hex("FE 07 66 6D FD"));
    QVERIFY(QFileInfo(defaultFile).isDir());
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
