// The port scan, against emulators behind chosen port numbers; the message boxes are
// answered by the test.
#include "settings/PortSettings.h"
#include "support/Gui.h"
#include "support/Sim.h"
#include "ui/Main.h"
#include "ui/PortDialog.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSerialPort>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace zev;
using testing::Sim;

namespace {
// What the progress label showed each time it was drawn.
class LabelRecorder : public QObject {
public:
    explicit LabelRecorder(QLabel *label) : m_label(label) { label->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && (texts.isEmpty() || texts.last() != m_label->text()))
            texts << m_label->text();
        return false;
    }
    QStringList texts;

private:
    QLabel *m_label;
};

// The bar's value when the last message box came up.
int barAtMessage = -1;
} // namespace

class TestScan : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void findsTheProcessorOnPort3();
    void declinedAndSilentPortsEndInFailure();
    void nothingAnswers();
    void leavesTheMainWindowAlone();
    void portTextThatIsNotANumber();
    void closingTheWindowEndsTheScan();

private:
    QStringList scan(const QStringList &answers);
    testing::WorkingFolder m_folder;
    std::unique_ptr<TParaForm> m_dialog;
};

void TestScan::init()
{
    portSettings = PortSettings{};
    for (int port = 1; port <= 15; ++port) // nothing behind any port unless a test says so
        qputenv(qPrintable(QString("ZEV720_COM%1").arg(port)), "/nonexistent/scan-test");
    m_dialog = std::make_unique<TParaForm>();
    m_dialog->show();
}

void TestScan::cleanup()
{
    m_dialog.reset();
}

QStringList TestScan::scan(const QStringList &answers)
{
    barAtMessage = -1;
    return testing::answerDialogs(
        [&] {
            QTimer bar;
            QObject::connect(&bar, &QTimer::timeout,
                             [&] { barAtMessage = m_dialog->ProgressBar->value(); });
            bar.start(1);
            m_dialog->AutoScanButton->click();
        },
        answers);
}

void TestScan::findsTheProcessorOnPort3()
{
    Sim sim;
    sim.becomePort(3);
    LabelRecorder label(m_dialog->MessageLabel);
    m_dialog->BaudComboBox->setCurrentIndex(16); // chosen, not stored
    const QStringList messages = scan({"Yes"});
    QCOMPARE(messages, QStringList{"找到COM(USB)3，OK！"});
    QCOMPARE(m_dialog->ComPortEdit->text(), QString("3"));
    QCOMPARE(label.texts, (QStringList{"搜索COM(USB)1,  请等待...", "搜索COM(USB)2,  请等待...",
                                       "搜索COM(USB)3,  请等待..."}));
    QCOMPARE(sim.frames().size(), 2);
    QCOMPARE(sim.frames()[0].bytes, testing::hex("FE 06 66 6C FD"));
    QCOMPARE(sim.frames()[1].bytes, testing::hex("FE 07 66 6D FD"));
    QCOMPARE(barAtMessage, 48 + 48 + 40 + 2 + 2 + 2 + 2 + 2 - 1);
    QVERIFY(!m_dialog->ProgressBar->isVisible());
    QVERIFY(!m_dialog->MessageLabel->isVisible());
    QCOMPARE(portSettings.baud, 16); // taken into the record at each port...
    QCOMPARE(portSettings.port, 1);  // ...while the found port waits in the edit
    QVERIFY(!QFile::exists("ZEV720.cfg"));
    m_dialog->CancelBtn->click();
    QCOMPARE(m_dialog->ComPortEdit->text(), QString("1"));
}

void TestScan::declinedAndSilentPortsEndInFailure()
{
    Sim answering;
    Sim silent({"--silent"});
    answering.becomePort(3);
    silent.becomePort(4);
    const QStringList messages = scan({"No", "Yes"});
    QCOMPARE(messages, (QStringList{"找到COM(USB)3，OK！",
                                    "COM(USB)连接失败,请检查端口或USB驱动是否安装..."}));
    QCOMPARE(silent.frames().size(), 10); // ten probes, no answer
    QCOMPARE(m_dialog->ComPortEdit->text(), QString("1"));
}

void TestScan::nothingAnswers()
{
    const QStringList messages = scan({"Yes"});
    QCOMPARE(messages, QStringList{"COM(USB)连接失败,请检查端口或USB驱动是否安装..."});
    QCOMPARE(barAtMessage, 719);
    QCOMPARE(m_dialog->ComPortEdit->text(), QString("1"));
    QVERIFY(!m_dialog->ProgressBar->isVisible());
}

void TestScan::leavesTheMainWindowAlone()
{
    Sim sim, taken;
    sim.becomePort(1);
    taken.becomePort(2);
    QSerialPort other(taken.path()); // another program's, with its lock file
    QVERIFY(other.open(QIODevice::ReadWrite));
    std::unique_ptr<TMainForm> form(testing::newMainForm(true));
    QVERIFY(form->isConnected());
    // Port 1 is the window's and port 2 another program's: neither opens, and the failure
    // says why of each rather than leaving "no processor anywhere".
    const QStringList messages = scan({"Yes"});
    QCOMPARE(messages,
             QStringList{"COM(USB)连接失败,请检查端口或USB驱动是否安装...\n"
                         "COM(USB)1 由主窗口使用，请用主窗口的连接按钮联机\n"
                         "COM(USB)2 被其他程序占用，请先关闭该程序"});
    QVERIFY(taken.frames().isEmpty());
    QVERIFY(form->isConnected());
    QVERIFY(form->channel().IsOpen());
    QCOMPARE(sim.frames().size(), 1); // the window's connect only
}

void TestScan::portTextThatIsNotANumber()
{
    Sim sim;
    sim.becomePort(1);
    m_dialog->ComPortEdit->setText("one");
    const QStringList messages = scan({QString()});
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages[0].contains("'one'"));
    QVERIFY(!m_dialog->ProgressBar->isVisible());
    QVERIFY(!m_dialog->MessageLabel->isVisible());
    QVERIFY(sim.frames().isEmpty());
}

// The scan pumps events: a close of the main window (or the end of the session, which closes
// it) ends the scan at its next port, without its closing message; a second press of the scan
// button meanwhile starts nothing.
void TestScan::closingTheWindowEndsTheScan()
{
    std::unique_ptr<TMainForm> form(testing::newMainForm());
    ParaForm = m_dialog.get();
    LabelRecorder label(m_dialog->MessageLabel);
    QTimer pressAgain, closeWindow;
    pressAgain.setSingleShot(true);
    closeWindow.setSingleShot(true);
    QObject::connect(&pressAgain, &QTimer::timeout, [&] {
        m_dialog->AutoScanButton->click();
        closeWindow.start(0);
    });
    QObject::connect(&closeWindow, &QTimer::timeout, [&] { form->close(); });
    pressAgain.start(0);
    const QStringList messages = scan({QString()});
    ParaForm = nullptr;
    QVERIFY(messages.isEmpty());
    // The close comes at the first or the second port's pass of the event loop.
    const QStringList ports = {"搜索COM(USB)1,  请等待...", "搜索COM(USB)2,  请等待..."};
    QVERIFY2(label.texts == ports.mid(0, label.texts.size()) && label.texts.size() <= 2,
             qPrintable(label.texts.join(" | ")));
    QVERIFY(!m_dialog->isScanning());
    QVERIFY(!m_dialog->ProgressBar->isVisible());
}

QTEST_MAIN(TestScan)
#include "tst_scan.moc"
