// The port settings record, "ZEV720.cfg" and the dialog.
#include "wire/SerialLibrary.h"
#include "settings/PortSettings.h"
#include "support/Gui.h"
#include "support/Sim.h"
#include "ui/PortDialog.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QTest>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

using namespace zev;
using testing::readFile;
using testing::Sim;
using testing::WorkingFolder;
using testing::writeFile;

namespace {
QByteArray fileOf(const PortSettings &settings)
{
    const auto bytes = encodePortSettings(settings);
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
}
} // namespace

class TestPortSettings : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_folder = new WorkingFolder;
        portSettings = PortSettings{};
    }
    void cleanup() { delete m_folder; }
    void onlyA28ByteFileIsRead_data();
    void onlyA28ByteFileIsRead();
    void bytesSurviveSaveAndLoad();
    void dialogShowsTheRecord();
    void cancelAndResourceRestoreTheStoredValues();
    void portTextThatIsNotANumber();
    void settingsThatCannotBeWritten();
    void spinButtonsStopAtTheEnds();
    void portNumberShowsItsDevice();

private:
    WorkingFolder *m_folder = nullptr;
};

void TestPortSettings::onlyA28ByteFileIsRead_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("kept");
    QTest::newRow("missing") << -1 << false;
    QTest::newRow("empty") << 0 << false;
    QTest::newRow("27 bytes") << 27 << false;
    QTest::newRow("28 bytes") << 28 << true;
    QTest::newRow("29 bytes") << 29 << false;
}

void TestPortSettings::onlyA28ByteFileIsRead()
{
    QFETCH(int, size);
    QFETCH(bool, kept);
    PortSettings stored;
    stored.port = 7;
    stored.baud = 16;
    if (size >= 0)
        QVERIFY(writeFile("ZEV720.cfg", fileOf(stored).leftJustified(size, '\x05', true)));
    portSettings.port = 99;
    LoadPortSettings();
    QCOMPARE(portSettings == stored, kept);
    QCOMPARE(portSettings == PortSettings{}, !kept);
    QCOMPARE(QFile::exists("ZEV720.cfg"), kept); // other sizes are deleted, none is created
}

void TestPortSettings::bytesSurviveSaveAndLoad()
{
    std::string error;
    QVERIFY(SavePortSettings(error));
    QCOMPARE(readFile("ZEV720.cfg").toHex(' '),
             QByteArray("01 00 00 00 0c 00 00 00 00 00 00 00 03 00 00 00 00 00 00 00 00 00 00 "
                        "00 14 00 00 00"));
    // Bytes that text mode would translate: 0x0A, 0x0D, 0x1A.
    for (PortSettings settings : {PortSettings{10, 26, 0, 3, 0, 0, 10},
                                  PortSettings{INT_MIN, INT_MAX, -1, INT_MIN, INT_MAX, -1, 0}}) {
        portSettings = settings;
        QVERIFY(SavePortSettings(error));
        QCOMPARE(readFile("ZEV720.cfg").size(), 28);
        portSettings = PortSettings{};
        LoadPortSettings();
        QVERIFY(portSettings == settings);
    }
    QCOMPARE(pollInterval(0), 20);
    QCOMPARE(pollInterval(-5), 20);
    QCOMPARE(pollInterval(10), 10);
}

void TestPortSettings::dialogShowsTheRecord()
{
    LoadPortSettings(); // first start: defaults, no file
    TParaForm dialog;
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QString("COM(USB) 设置"));
    QCOMPARE(dialog.ComPortEdit->text(), QString("1"));
    QCOMPARE(dialog.BaudComboBox->currentText(), QString("9600"));
    QCOMPARE(dialog.DataBitsComboBox->currentText(), QString("8"));
    QCOMPARE(dialog.StopsBitsComboBox->currentText(), QString("1"));
    QCOMPARE(dialog.ParityComboBox->currentText(), QString("None "));
    QCOMPARE(dialog.FlowControlComboBox->currentText(), QString("None"));
    QVERIFY(!dialog.TimeTimeInterval->isVisible());
    QVERIFY(!dialog.TimeTimeInterval->isEnabled());
    QCOMPARE(dialog.TimeTimeInterval->text(), QString("20"));
    QVERIFY(!QFile::exists("ZEV720.cfg"));
    dialog.OkBtn->click();
    QVERIFY(dialog.isHidden());
    QCOMPARE(readFile("ZEV720.cfg"), fileOf(PortSettings{}));

    PortSettings stored;
    stored.port = 3;
    stored.baud = 16;
    stored.flow = 7; // outside the list: nothing chosen
    QVERIFY(writeFile("ZEV720.cfg", fileOf(stored)));
    LoadPortSettings();
    dialog.show();
    QCOMPARE(dialog.ComPortEdit->text(), QString("3"));
    QCOMPARE(dialog.BaudComboBox->currentText(), QString("115200"));
    QCOMPARE(dialog.FlowControlComboBox->currentIndex(), -1);
    dialog.ComPortEdit->setText("20"); // typed numbers are not limited
    dialog.OkBtn->click();
    QCOMPARE(portSettings.port, 20);
    QCOMPARE(portSettings.flow, -1);
}

void TestPortSettings::cancelAndResourceRestoreTheStoredValues()
{
    TParaForm dialog;
    dialog.show();
    dialog.BaudComboBox->setCurrentIndex(16);
    dialog.ReSourceBtn->click();
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.BaudComboBox->currentText(), QString("9600"));
    dialog.BaudComboBox->setCurrentIndex(16);
    dialog.CancelBtn->click();
    QVERIFY(dialog.isHidden());
    QCOMPARE(portSettings.baud, 12);
    QVERIFY(!QFile::exists("ZEV720.cfg"));
    dialog.show();
    QCOMPARE(dialog.BaudComboBox->currentText(), QString("9600"));
}

void TestPortSettings::portTextThatIsNotANumber()
{
    TParaForm dialog;
    dialog.show();
    dialog.ComPortEdit->setText("COM3");
    dialog.BaudComboBox->setCurrentIndex(16);
    const QString message = testing::answerNextDialog([&] { dialog.OkBtn->click(); });
    QVERIFY2(message.contains("'COM3'"), qPrintable(message));
    QVERIFY(portSettings == PortSettings{});
    QVERIFY(!QFile::exists("ZEV720.cfg"));
    QVERIFY(dialog.isVisible());
}

void TestPortSettings::settingsThatCannotBeWritten()
{
    QVERIFY(QDir().mkdir("ZEV720.cfg")); // a folder stands where the file would go
    TParaForm dialog;
    dialog.show();
    dialog.ComPortEdit->setText("5");
    const QString message = testing::answerNextDialog([&] { dialog.OkBtn->click(); });
    QVERIFY2(message.contains("ZEV720.cfg"), qPrintable(message));
    QCOMPARE(portSettings.port, 5); // in force for this run
    QVERIFY(dialog.isVisible());
}

void TestPortSettings::spinButtonsStopAtTheEnds()
{
    TParaForm dialog;
    dialog.ComPortEdit->setText("14");
    dialog.UpDown1->step(+1);
    dialog.UpDown1->step(+1);
    QCOMPARE(dialog.ComPortEdit->text(), QString("15"));
    dialog.ComPortEdit->setText("2");
    dialog.UpDown1->step(-1);
    dialog.UpDown1->step(-1);
    QCOMPARE(dialog.ComPortEdit->text(), QString("1"));
}

// Under the port number the dialog says what the number stands for here, following the number
// as it changes, and why the last open of that port failed.
void TestPortSettings::portNumberShowsItsDevice()
{
    Sim sim;
    sim.becomePort(5);
    qputenv("ZEV720_COM6", "/nonexistent/zev720-adapter");
    TParaForm dialog;
    dialog.show();
    QLabel *line = dialog.PortDeviceLabel;
    SerialLibrary &serial = systemSerialLibrary();
    auto shows = [&](int port) {
        dialog.ComPortEdit->setText(QString::number(port));
        dialog.describePortNumber(); // as when the dialog is shown again
        return line->text();
    };
    dialog.ComPortEdit->setText("5"); // typed: the line follows
    QVERIFY2(line->text().startsWith(sim.path()), qPrintable(line->text()));
    QVERIFY2(shows(5).startsWith(sim.path()), qPrintable(line->text()));
    QCOMPARE(shows(6), QString("/nonexistent/zev720-adapter（设备不存在）"));
    QCOMPARE(shows(0), QString("没有设备对应这个端口号"));
    QVERIFY(!serial.openPort(6).ok());
    QCOMPARE(shows(6),
             QString("/nonexistent/zev720-adapter（设备不存在）；上次打开失败：设备不存在"));

    // Held by another program: here, a serial port of Qt's own with its lock file.
    QSerialPort other(sim.path());
    QVERIFY(other.open(QIODevice::ReadWrite));
    QVERIFY(!serial.openPort(5).ok());
    QVERIFY2(shows(5).endsWith("上次打开失败：被其他程序占用"), qPrintable(line->text()));
    other.close();
    QVERIFY(serial.openPort(5).ok()); // a good open clears the reason
    QVERIFY2(!shows(5).contains("上次打开失败"), qPrintable(line->text()));
    QVERIFY(!serial.openPort(5).ok()); // this program has it already
    QVERIFY2(shows(5).endsWith("上次打开失败：已被本程序打开"), qPrintable(line->text()));
    serial.closePort(5);

    // Permission denied (as another user when run as root): the group to join where that
    // group may read and write the device, else who may.
    const QByteArray terminal = QFile::symLinkTarget(sim.path()).toLocal8Bit();
    const QByteArray device = terminal.isEmpty() ? sim.path().toLocal8Bit() : terminal;
    struct stat info {};
    QVERIFY(::stat(device, &info) == 0);
    const bool root = ::geteuid() == 0;
    for (const mode_t mode : {mode_t(0660), mode_t(0600)}) {
        QVERIFY(::chmod(device, root ? mode : 0) == 0);
        if (root) QVERIFY(::setegid(65534) == 0 && ::seteuid(65534) == 0);
        const bool opened = serial.openPort(5).ok();
        if (root) QVERIFY(::seteuid(0) == 0 && ::setegid(0) == 0);
        QVERIFY(!opened);
        const QString said = shows(5);
        if (root && mode == 0660)
            QVERIFY2(said.contains("上次打开失败：没有权限，请把用户加入 ") && said.contains(" 组后重新登录"),
                     qPrintable(said));
        else
            QVERIFY2(said.contains("上次打开失败：没有权限：只有用户 ") && !said.contains("加入"),
                     qPrintable(said));
        if (!root) break;
    }
    QVERIFY(::chmod(device, info.st_mode & 07777) == 0);
    qunsetenv("ZEV720_COM5");
    qunsetenv("ZEV720_COM6");
}

QTEST_MAIN(TestPortSettings)
#include "tst_portsettings.moc"
