// Hostile settings, a babbling device and a panel killed while it saves.
#include "files/ParameterFile.h"
#include "settings/PortSettings.h"
#include "support/Gui.h"
#include "support/Sim.h"
#include "ui/Main.h"
#include "ui/PortDialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <climits>
#include <csignal>
#include <cstdio>
#include <memory>

using namespace zev;
using testing::readFile;
using testing::writeFile;

// The event loop's longest pause is a figure for the benchmarks; here only a hang fails.
constexpr qint64 kHangMs = 5000;

namespace {
const QByteArray kOld(int(kParameterFileSize), '\x55');
const QByteArray kNew(int(kParameterFileSize), '\xAA');
} // namespace

class TestHostile : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { ParaForm = new TParaForm; }
    void cleanupTestCase() { delete ParaForm; }
    void init() { m_folder = std::make_unique<testing::WorkingFolder>(); }
    void cleanup()
    {
        m_folder.reset();
        for (int port : {1, INT_MAX, INT_MIN})
            systemSerialLibrary().closePort(port);
    }
    void extremeSettings_data();
    void extremeSettings();
    void babblingDevice_data();
    void babblingDevice();
    void killedWhileSaving();

private:
    std::unique_ptr<testing::WorkingFolder> m_folder;
};

void TestHostile::extremeSettings_data()
{
    QTest::addColumn<int>("value");
    QTest::newRow("INT_MIN") << INT_MIN;
    QTest::newRow("INT_MAX") << INT_MAX;
}

void TestHostile::extremeSettings()
{
    QFETCH(int, value);
    PortSettings extreme{value, value, value, value, value, value, value};
    const auto bytes = encodePortSettings(extreme);
    QFile file(kPortSettingsFile);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size()));
    file.close();
    testing::Sim sim;
    qputenv(qPrintable(QString("ZEV720_COM%1").arg(value)), sim.path().toLocal8Bit());

    TMainForm form; // starts and connects with whatever the file says
    QVERIFY(portSettings == extreme);
    QVERIFY(form.isConnected());
    QCOMPARE(form.Timer1->interval(), value < 1 ? 20 : value);
    form.CommSetBitBtn->click();
    QVERIFY(ParaForm->isVisible());
    QCOMPARE(ParaForm->ComPortEdit->text(), QString::number(value));
    QCOMPARE(ParaForm->BaudComboBox->currentIndex(), -1);
    ParaForm->OkBtn->click();
    QCOMPARE(portSettings.baud, -1);
    form.CommunicationBitBtn->click();
    QVERIFY(form.isConnected());
    form.trackBar(60)->setValue(20);
    for (int tick = 0; tick < 500 && form.model().pendingCount(); ++tick) { // INT_MAX ms apart
        form.Timer1Timer();
        QTest::qSleep(2);
    }
    QCOMPARE(int(sim.registers()[60]), 40);
}

void TestHostile::babblingDevice_data()
{
    QTest::addColumn<bool>("network");
    QTest::addColumn<int>("seconds");
    QTest::newRow("terminal") << false << 10;
    QTest::newRow("network line") << true << 5;
}

// Noise with frames in it, as fast as the terminal or the connection takes it.
void TestHostile::babblingDevice()
{
    QFETCH(bool, network);
    QFETCH(int, seconds);
    testing::Sim sim(network ? QStringList{"--listen", "127.0.0.1:0"} : QStringList{});
    sim.becomePort(1);
    std::unique_ptr<TMainForm> form(testing::newMainForm(true));
    QVERIFY(form->isConnected());
    int resets = 0;
    std::int32_t lastFill = 0;
    QObject::connect(form->Timer1, &QTimer::timeout, [&] {
        const std::int32_t fill = form->channel().fillCount();
        if (fill < lastFill) ++resets;
        lastFill = fill;
    });
    testing::runEventLoop(500);
    sim.command("flood on");
    const std::size_t heapBefore = testing::heapInUse();
    const qint64 longestGap = testing::runEventLoop(seconds * 1000);
    const std::size_t heapAfter = testing::heapInUse();
    sim.command("flood off");
    qInfo("flood: %d buffer resets, longest pause of the event loop %lld ms, heap %zu KB before, "
          "%zu KB after",
          resets, longestGap, heapBefore / 1024, heapAfter / 1024);
    QVERIFY(resets > 0);
    QVERIFY2(longestGap < kHangMs, "the window hung");
    QVERIFY2(heapAfter < heapBefore + 1024 * 1024, "memory grew");

    // The link still works once the device is quiet again.
    form->ShowHelpText({});
    form->trackBar(61)->setValue(10);
    const std::uint8_t sent = form->model().image[61];
    testing::runEventLoop(20000, [&] {
        return form->model().pendingCount() == 0 && int(sim.registers()[61]) == sent;
    });
    QCOMPARE(int(sim.registers()[61]), int(sent));
}

// The default file is either the old or the new one, whole, wherever the kill lands.
void TestHostile::killedWhileSaving()
{
    constexpr int kKills = 150;
    QRandomGenerator random(31);
    int landed[2] = {0, 0};
    for (int kill = 0; kill < kKills; ++kill) {
        QFile old(kDefaultParameterFile);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(kOld);
        old.close();
        QProcess saver;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ZEV_TEST_SAVE_FOREVER", "1");
        saver.setProcessEnvironment(environment);
        saver.start(QCoreApplication::applicationFilePath());
        QVERIFY(saver.waitForReadyRead(10000)); // saving from now on
        QTest::qSleep(int(random.bounded(15)));
        ::kill(pid_t(saver.processId()), SIGKILL);
        saver.waitForFinished();
        const QByteArray now = readFile(kDefaultParameterFile);
        QVERIFY2(now == kOld || now == kNew, qPrintable(QString("%1 bytes").arg(now.size())));
        ++landed[now == kNew];
        // What a kill leaves: at most the temporary file of the save it cut short, since
        // every save removes those of the saves before it.
        const QStringList left = QDir().entryList({"ZEV720Default.dat.*"}, QDir::Files);
        QVERIFY2(left.size() <= 1, qPrintable(left.join(' ')));
        for (const QString &name : left)
            QVERIFY2(name.startsWith(QString(kDefaultParameterFile) + kTemporaryMarker),
                     qPrintable(name));
    }
    qInfo("%d kills: %d left the old file, %d the new one", kKills, landed[0], landed[1]);
    std::string error;
    QVERIFY(writeParameterFile(kDefaultParameterFile, ParameterModel{}, error));
    QCOMPARE(QDir().entryList({"ZEV720Default.dat.*"}, QDir::Files), QStringList{});
}

// With ZEV_TEST_SAVE_FOREVER set, this program saves the default file again and again.
int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet("ZEV_TEST_SAVE_FOREVER")) {
        ParameterModel model;
        model.image.fill(0xAA);
        for (RegisterImage &slot : model.modeSlots)
            slot.fill(0xAA);
        std::string error;
        std::puts("saving");
        std::fflush(stdout);
        for (;;)
            writeParameterFile(kDefaultParameterFile, model, error);
    }
    QApplication app(argc, argv);
    TestHostile test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hostile.moc"
