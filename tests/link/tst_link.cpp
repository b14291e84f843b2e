// Live tuning end to end: the main window against the emulator on a pseudo-terminal.
// Ticks are run by hand (Timer1Timer) so that every test is deterministic.
#include "settings/PortSettings.h"
#include "support/Gui.h"
#include "support/Sim.h"
#include "ui/Main.h"
#include "ui/PortDialog.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

using namespace zev;
using testing::hex;
using testing::LoggedFrame;
using testing::Sim;

namespace {

// Ticks until `done` holds (a short pause between ticks lets the emulator answer).
bool tickUntil(TMainForm &form, const std::function<bool()> &done, int maxTicks = 600)
{
    for (int tick = 0; tick < maxTicks; ++tick) {
        form.Timer1Timer();
        if (done()) return true;
        QTest::qSleep(2);
    }
    return false;
}

int drain(TMainForm &form)
{
    int ticks = 0;
    tickUntil(form, [&] { return ++ticks, form.model().pendingCount() == 0; });
    return ticks;
}

QList<int> addresses(const QList<LoggedFrame> &frames, int from = 0)
{
    QList<int> result;
    for (qsizetype i = from; i < frames.size(); ++i)
        result << frames[i].address();
    return result;
}

QList<int> transferSetFrom(int first)
{
    QList<int> set;
    for (const RegisterRow &row : registerMap())
        set << row.address;
    const qsizetype start = set.indexOf(first);
    return set.mid(start) + set.mid(0, start);
}

} // namespace

class TestLink : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { ParaForm = new TParaForm; }
    void cleanupTestCase() { delete ParaForm; }
    void init();
    void cleanup();

    void processorSwitchedOff();
    void portThatCannotBeOpened();
    void connectRealTimeAndDisconnect();
    void disconnectWithoutReply();
    void portSettingsButton();
    void writesRetiredOnlyByTheirReply();
    void droppedRepliesAreResentEveryTick();
    void editWhileTheFrameIsOutstanding();
    void twoRepliesBetweenTwoTicks();
    void cursorWrapsAndRests();
    void sendAllFromTheRestingCursor();
    void readBackFillsTheWindow();
    void readBackThroughAnEchoingLine();
    void lockAndUnlock();
    void bulkTransfersNeedTheLink();
    void sendAllWithDroppedReplies();
    void progressBar();
    void editsWhileDownGoOutAfterConnect();
    void adapterPulledOutAndPluggedBack();
    void heldLineIsNoLostDevice();

private:
    testing::WorkingFolder m_folder;
    TMainForm &connected(const QStringList &simArguments = {});
    std::unique_ptr<Sim> m_sim;
    std::unique_ptr<TMainForm> m_form;
    QTemporaryDir m_links;
};

void TestLink::init()
{
    portSettings = PortSettings{};
    qunsetenv("ZEV720_COM1");
    m_form.reset(testing::newMainForm());
}

void TestLink::cleanup()
{
    m_form.reset();
    m_sim.reset();
    for (int port = 0; port < 16; ++port)
        systemSerialLibrary().closePort(port);
}

TMainForm &TestLink::connected(const QStringList &simArguments)
{
    m_sim = std::make_unique<Sim>(simArguments);
    m_sim->becomePort(1);
    m_form->CommunicationBitBtn->click();
    if (!m_form->isConnected()) qFatal("no link to the emulator");
    m_form->RunCtlDataBitBtnClick(); // real-time control on, as after start-up
    m_form->ShowHelpText("帮助信息");
    return *m_form;
}

void TestLink::processorSwitchedOff()
{
    m_sim = std::make_unique<Sim>(QStringList{"--silent"});
    m_sim->becomePort(1);
    QElapsedTimer clock;
    clock.start();
    m_form->CommunicationBitBtn->click();
    QVERIFY(clock.elapsed() >= 4 * 50); // four attempts, each followed by its wait
    QVERIFY(m_sim->waitForFrames(4));
    const QList<LoggedFrame> frames = m_sim->frames();
    QCOMPARE(frames.size(), 4);
    for (qsizetype i = 0; i < 4; ++i)
        QCOMPARE(frames[i].bytes, hex("FE 06 66 6C FD"));
    QCOMPARE(m_form->statusPanel(3)->text(), QString("通讯连接失败！机器可能未开机"));
    QVERIFY(!m_form->isConnected());
    QVERIFY(!m_form->Timer1->isActive());
    QCOMPARE(m_form->statusPanel(0)->text(), QString("断开"));
    QCOMPARE(m_form->CommunicationBitBtn->text(), QString("已断开..."));
    QVERIFY(m_form->channel().IsOpen()); // the port stays open
}

void TestLink::portThatCannotBeOpened()
{
    m_sim = std::make_unique<Sim>();
    m_sim->becomePort(1);
    portSettings.port = 99; // no device behind it
    m_form->CommunicationBitBtn->click();
    // The design's words, then why: nobody needs the dialog to learn it.
    QCOMPARE(m_form->statusPanel(3)->text(), QString("串口打开错误，请检查串口号：设备不存在"));
    QVERIFY(!m_form->channel().IsOpen());
    QVERIFY(!m_form->Timer1->isActive());
    QVERIFY(m_sim->frames().isEmpty());
}

void TestLink::connectRealTimeAndDisconnect()
{
    m_sim = std::make_unique<Sim>();
    m_sim->becomePort(1);
    const QString help = m_form->statusPanel(3)->text();
    m_form->RunCtlDataBitBtnClick(); // disconnected: captions only
    QCOMPARE(m_form->RunCtlDataBitBtn->text(), QString("实时调节机器"));
    QCOMPARE(m_form->statusPanel(1)->text(), QString("实时"));
    QCOMPARE(m_form->statusPanel(3)->text(), help);

    m_form->CommunicationBitBtn->click();
    QCOMPARE(m_form->statusPanel(3)->text(), QString("已连接机器，可以进行通讯操作"));
    QCOMPARE(m_form->statusPanel(0)->text(), QString("联机"));
    QCOMPARE(m_form->CommunicationBitBtn->text(), QString("已连接.."));
    QVERIFY(m_form->Timer1->isActive());
    QCOMPARE(m_form->Timer1->interval(), 20);
    QCOMPARE(m_sim->frames().size(), 1);

    m_form->RunCtlDataBitBtnClick();
    QCOMPARE(m_form->RunCtlDataBitBtn->text(), QString("不调节机器"));
    QCOMPARE(m_form->statusPanel(1)->text(), QString("脱离"));
    QCOMPARE(m_form->statusPanel(3)->text(), QString("离实调节，任何改动不能实时控制机器。"));
    m_form->RunCtlDataBitBtnClick();
    QCOMPARE(m_form->statusPanel(3)->text(), QString("实时调节，任何改动将实时控制机器。"));

    m_form->CommunicationBitBtn->click();
    QCOMPARE(m_form->statusPanel(3)->text(), QString("已断开连接，不能与机器进行通讯操作"));
    QCOMPARE(m_form->statusPanel(0)->text(), QString("脱机"));
    QCOMPARE(m_form->CommunicationBitBtn->text(), QString("已断开.."));
    QVERIFY(!m_form->isConnected());
    QVERIFY(!m_form->Timer1->isActive());
    QVERIFY(m_form->channel().IsOpen());
    QCOMPARE(m_sim->frames().last().bytes, hex("FE 07 66 6D FD"));

    // A later connect reuses the open port, whatever the settings say now.
    portSettings.port = 9;
    m_form->CommunicationBitBtn->click();
    QVERIFY(m_form->isConnected());
    QCOMPARE(m_sim->frames().size(), 3);
}

void TestLink::disconnectWithoutReply()
{
    connected();
    m_sim->command("silent on");
    m_form->CommunicationBitBtn->click();
    QCOMPARE(m_form->statusPanel(3)->text(), QString("通讯连接断开"));
    QVERIFY(m_form->isConnected());
    QVERIFY(m_form->Timer1->isActive());
    QCOMPARE(m_form->CommunicationBitBtn->text(), QString("已连接..")); // not a false "已断开.."

    m_form->channel().ClosePort(); // a channel that is not open cannot say goodbye
    m_form->CommunicationBitBtn->click();
    QCOMPARE(m_form->statusPanel(3)->text(), QString("串口关闭错误."));
    QVERIFY(m_form->isConnected());
    QCOMPARE(m_form->CommunicationBitBtn->text(), QString("已连接.."));
}

void TestLink::portSettingsButton()
{
    m_sim = std::make_unique<Sim>();
    m_sim->becomePort(1);
    portSettings.interval = 35;
    m_form->CommSetBitBtn->click(); // disconnected: nothing is sent
    QCOMPARE(m_form->statusPanel(3)->text(), QString("设置串口通讯参数。"));
    QVERIFY(ParaForm->isVisible());
    QVERIFY(!ParaForm->isModal());
    QCOMPARE(m_form->Timer1->interval(), 35);
    QVERIFY(m_sim->frames().isEmpty());
    ParaForm->hide();

    m_form->CommunicationBitBtn->click();
    portSettings.interval = 0; // would spin: the timer keeps a sane interval
    m_form->CommSetBitBtn->click();
    QVERIFY(!m_form->isConnected()); // disconnected first
    QCOMPARE(addresses(m_sim->frames()), (QList<int>{6, 7}));
    QCOMPARE(m_form->Timer1->interval(), 20);
    ParaForm->hide();
}

void TestLink::writesRetiredOnlyByTheirReply()
{
    TMainForm &form = connected();
    m_sim->command("silent on");
    form.trackBar(16)->setValue(21);
    form.model().image[16] = 20; // the frame carries the image's value of the moment
    form.Timer1Timer();
    QVERIFY(m_sim->waitForFrames(2));
    QCOMPARE(m_sim->frames().last().bytes, hex("FE 10 14 24 FD"));
    m_sim->send(hex("FE 10 14 24 FD")); // an echo is no reply
    form.Timer1Timer();
    QCOMPARE(int(form.model().pending[16]), 1);
    m_sim->send(hex("FE 10 15 25 FD"));
    form.Timer1Timer();
    QCOMPARE(int(form.model().pending[16]), 0);
}

void TestLink::droppedRepliesAreResentEveryTick()
{
    TMainForm &form = connected();
    m_sim->command("drop 1");
    form.trackBar(50)->setValue(10);
    for (int tick = 0; tick < 3; ++tick) {
        form.Timer1Timer();
        QTest::qSleep(5);
    }
    QVERIFY(m_sim->waitForFrames(4));
    QCOMPARE(addresses(m_sim->frames(), 1), (QList<int>{50, 50, 50}));
    m_sim->command("drop 0");
    drain(form);
    QCOMPARE(int(m_sim->registers()[50]), 40);
}

void TestLink::editWhileTheFrameIsOutstanding()
{
    TMainForm &form = connected({"--delay", "30"});
    form.trackBar(50)->setValue(10); // value 40
    form.Timer1Timer();
    form.trackBar(50)->setValue(12); // value 38 before the reply to 40 arrives
    QTest::qSleep(60);
    form.Timer1Timer(); // the reply to 40 retires nothing; 38 goes on this very tick
    QCOMPARE(int(form.model().pending[50]), 1);
    QVERIFY(m_sim->waitForFrames(3));
    const QList<LoggedFrame> frames = m_sim->frames();
    QCOMPARE(frames[1].value(), 40);
    QCOMPARE(frames[2].value(), 38);
    drain(form);
    QCOMPARE(int(m_sim->registers()[50]), 38);
}

void TestLink::twoRepliesBetweenTwoTicks()
{
    TMainForm &form = connected();
    form.trackBar(60)->setValue(50);
    form.Timer1Timer();
    QVERIFY(m_sim->waitForFrames(2));
    QTest::qSleep(5);
    m_sim->send(hex("FE 11 01 12 FD")); // a later reply for another address
    form.Timer1Timer();
    QCOMPARE(int(form.model().pending[60]), 1); // only the later reply counted: resent
    QVERIFY(m_sim->waitForFrames(3));
    QCOMPARE(addresses(m_sim->frames(), 1), (QList<int>{60, 60}));
    drain(form);
}

void TestLink::cursorWrapsAndRests()
{
    TMainForm &form = connected();
    m_sim->command("silent on");
    form.Timer1Timer(); // nothing pending: the cursor moves on by 128
    QCOMPARE(int(form.monitor().cursor), 128);
    form.monitor().cursor = 41;
    form.model().pending[40] = 1;
    form.Timer1Timer();
    QCOMPARE(int(form.monitor().cursor), 169);
    QCOMPARE(m_sim->frames().size(), 1);
    form.Timer1Timer(); // past 255, back to 0, up to 40
    QVERIFY(m_sim->waitForFrames(2));
    QCOMPARE(m_sim->frames().last().address(), 40);
    QCOMPARE(int(form.monitor().cursor), 40);
}

void TestLink::sendAllFromTheRestingCursor()
{
    TMainForm &form = connected();
    m_sim->command("silent on");
    form.trackBar(50)->setValue(20);
    form.Timer1Timer(); // sent, unanswered: the cursor rests on 50
    QCOMPARE(int(form.monitor().cursor), 50);
    QVERIFY(m_sim->waitForFrames(2));
    m_sim->command("silent off");
    const qsizetype before = m_sim->frames().size();
    form.SendAllBitBtn->click();
    QCOMPARE(form.statusPanel(3)->text(), QString("将全部数据发送到机器"));
    QCOMPARE(form.statusPanel(2)->text(), QString("未锁定"));
    const int ticks = drain(form);
    QList<int> order = addresses(m_sim->frames(), int(before));
    order.erase(std::unique(order.begin(), order.end()), order.end()); // a slow reply: resent
    QCOMPARE(order, transferSetFrom(50));
    QVERIFY(ticks >= 56); // one frame a tick at most
}

// A two-wire adapter that echoes every frame the panel sends, with the processor behind it:
// the panel's read-back takes the processor's values, never its own read requests echoed
// (which would read as 251 everywhere), and its writes are retired by the real replies.
void TestLink::readBackThroughAnEchoingLine()
{
    QTemporaryDir dir;
    RegisterImage processor = m_form->model().image;
    processor[16] = 40;
    processor[32] = 30;
    processor[60] = 10;
    QFile file(dir.filePath("processor.dat"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char *>(processor.data()), 256);
    file.close();
    // The echo at once, the processor's answer 30 ms behind it.
    TMainForm &form = connected({"--echo", "--delay", "30", "--load", file.fileName()});
    form.LoadMachineBitBtn->click();
    // The poll timer's own ticks: an echo and a reply 30 ms behind it, as on the line.
    testing::runEventLoop(15000, [&] { return form.model().pendingCount() == 0; });
    QCOMPARE(form.model().pendingCount(), 0);
    for (const RegisterRow &row : registerMap())
        QVERIFY2(form.model().image[row.address] == processor[row.address],
                 qPrintable(QString("register %1: %2, the processor %3")
                                .arg(row.address).arg(form.model().image[row.address]).arg(processor[row.address])));
    form.trackBar(16)->setValue(30);
    testing::runEventLoop(15000, [&] { return form.model().pendingCount() == 0; });
    QCOMPARE(int(m_sim->registers()[16]), int(form.model().image[16]));
}

void TestLink::readBackFillsTheWindow()
{
    QTemporaryDir dir;
    RegisterImage processor = m_form->model().image;
    processor[16] = 40;  // volume bar at 40
    processor[24] = 10;  // music EQ 16KHz at -2 dB
    processor[34] = 255; // ALC off
    processor[44] = 3;   // feedback mode three
    processor[50] = 10;  // echo level bar at 40
    QFile file(dir.filePath("processor.dat"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char *>(processor.data()), 256);
    file.close();
    TMainForm &form = connected({"--load", file.fileName()});
    form.statusPanel(2)->setText("已锁定");
    form.LoadMachineBitBtn->click();
    QCOMPARE(form.statusPanel(3)->text(), QString("从机器读回全部数据"));
    QCOMPARE(form.statusPanel(2)->text(), QString("未锁定"));
    QVERIFY(tickUntil(form, [&] { return form.model().pending[16] == 0; }));
    QCOMPARE(form.trackBar(16)->value(), 40); // shown as soon as it arrives...
    QCOMPARE(form.valueLabel(16)->text(), QString("48dB"));
    QVERIFY(form.model().pending[50] != 0); // ...while later registers still wait
    QCOMPARE(m_sim->frames()[1].bytes, hex("FE 10 FC 0C FD"));
    drain(form);
    for (const RegisterRow &row : registerMap())
        QCOMPARE(int(form.model().image[row.address]), int(processor[row.address]));
    QCOMPARE(form.trackBar(24)->value(), 2);
    QVERIFY(!form.checkBox(34)->isChecked());
    QCOMPARE(form.trackBar(50)->value(), 40);
    // Nothing read is sent back, even in real time.
    const qsizetype frames = m_sim->frames().size();
    for (int tick = 0; tick < 5; ++tick)
        form.Timer1Timer();
    QTest::qSleep(20);
    QCOMPARE(m_sim->frames().size(), frames);
    for (const LoggedFrame &frame : m_sim->frames().mid(1))
        QCOMPARE(frame.value(), 252);
}

void TestLink::lockAndUnlock()
{
    TMainForm &form = connected();
    form.LockDataBitBtn->click();
    QCOMPARE(form.statusPanel(3)->text(), QString("锁定机器内数据"));
    QCOMPARE(int(form.model().image[3]), 102);
    drain(form);
    QCOMPARE(m_sim->frames().last().bytes, hex("FE 03 66 69 FD"));
    QVERIFY(tickUntil(
        form, [&] { return form.statusPanel(2)->text() == "已锁定"; }, 5));
    form.trackBar(60)->setValue(1);
    QCOMPARE(form.statusPanel(2)->text(), QString("未锁定"));
}

void TestLink::bulkTransfersNeedTheLink()
{
    for (QPushButton *button :
         {m_form->SendAllBitBtn, m_form->LoadMachineBitBtn, m_form->LockDataBitBtn}) {
        m_form->ShowHelpText("");
        button->click();
        QCOMPARE(m_form->statusPanel(3)->text(), QString("通讯未连接，请先连接！"));
        QCOMPARE(m_form->model().pendingCount(), 0);
        QCOMPARE(int(m_form->model().image[3]), 0);
    }
}

void TestLink::sendAllWithDroppedReplies()
{
    TMainForm &form = connected({"--seed", "3"});
    m_sim->command("drop 0.3");
    form.LoadFactoryValues();
    for (const RegisterRow &row : registerMap())
        form.model().image[row.address] = std::uint8_t(row.address / 2); // unlike the processor
    form.SendAllBitBtn->click();
    drain(form);
    QCOMPARE(form.model().pendingCount(), 0);
    const RegisterImage processor = m_sim->registers();
    for (const RegisterRow &row : registerMap())
        QCOMPARE(int(processor[row.address]), int(form.model().image[row.address]));
}

void TestLink::progressBar()
{
    auto &pending = m_form->model().pending;
    const auto shown = [&](int count) {
        pending.fill(0);
        for (int a = 0; a < count; ++a)
            pending[a] = 1;
        m_form->UpdateTransferProgress();
        return m_form->progressBar()->value();
    };
    QCOMPARE(shown(56), 54);
    QCOMPARE(shown(3), 1);
    QCOMPARE(shown(2), 0);
    QCOMPARE(shown(1), 0);
    QCOMPARE(shown(0), 0);
}

void TestLink::editsWhileDownGoOutAfterConnect()
{
    m_form->RunCtlDataBitBtnClick();
    m_form->trackBar(61)->setValue(30); // value 50, queued while there is no link
    m_form->RunCtlDataBitBtnClick();    // real-time off keeps the queue
    QCOMPARE(int(m_form->model().pending[61]), 1);
    m_sim = std::make_unique<Sim>();
    m_sim->becomePort(1);
    m_form->CommunicationBitBtn->click();
    drain(*m_form);
    QCOMPARE(int(m_sim->registers()[61]), 50);
}

void TestLink::adapterPulledOutAndPluggedBack()
{
    const QString link = m_links.filePath("com1");
    m_sim = std::make_unique<Sim>(QStringList{"--link", link});
    qputenv("ZEV720_COM1", link.toLocal8Bit());
    m_form->CommunicationBitBtn->click();
    m_form->RunCtlDataBitBtnClick();
    QVERIFY(m_form->isConnected());

    m_sim.reset(); // pulled out
    m_form->Timer1Timer();
    QCOMPARE(m_form->statusPanel(0)->text(), QString("脱机"));
    QCOMPARE(m_form->CommunicationBitBtn->text(), QString("已断开.."));
    QCOMPARE(m_form->statusPanel(3)->text(), QString("串口已断开，请检查连接"));
    QVERIFY(!m_form->isConnected());
    QVERIFY(!m_form->Timer1->isActive());
    QVERIFY(!m_form->channel().IsOpen());
    m_form->trackBar(62)->setValue(40); // value 41, queued meanwhile
    QTest::qWait(50);                   // the event loop stays quiet while the device is gone

    m_sim = std::make_unique<Sim>(QStringList{"--link", link}); // plugged back in
    m_form->CommunicationBitBtn->click();
    QVERIFY(m_form->isConnected());
    drain(*m_form);
    QCOMPARE(int(m_sim->registers()[62]), 41);
}

// A processor that holds the line (flow control) makes every write fail; the link stays,
// the help panel says why after a second, and the queue goes out once the line moves again.
void TestLink::heldLineIsNoLostDevice()
{
    TMainForm &form = connected();
    m_sim->command("pause on");
    form.trackBar(63)->setValue(30);
    QVERIFY(!form.channel().WriteFrame(63, 30));
    const QString before = form.statusPanel(3)->text();
    // After a second of refused frames the help panel says why nothing gets through; the
    // link and the queue stay as they are.
    QVERIFY(tickUntil(
        form, [&] { return form.statusPanel(3)->text() == "串口发送受阻，请检查连接或流控制"; },
        5000));
    QVERIFY(form.isConnected());
    QVERIFY(form.channel().IsOpen());
    QCOMPARE(form.statusPanel(0)->text(), QString("联机"));
    QCOMPARE(testing::pendingAddresses(form.model()), QList<int>{63});
    m_sim->command("pause off");
    form.trackBar(63)->setValue(25);
    drain(form);
    QCOMPARE(int(m_sim->registers()[63]), 35);
    QCOMPARE(form.statusPanel(3)->text(), before); // the line moves again
}

QTEST_MAIN(TestLink)
#include "tst_link.moc"
