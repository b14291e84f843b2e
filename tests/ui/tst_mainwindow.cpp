// The main window as a person and a screen reader meet it.
#include "files/ParameterFile.h"
#include "model/RegisterMap.h"
#include "support/Gui.h"
#include "support/Sim.h"
#include "ui/Main.h"
#include "ui/Progress.h"
#include "ui/QtTexts.h"
#include "ui/Widgets.h"

#include <QAccessible>
#include <QCheckBox>
#include <QFile>
#include <QTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <QTest>

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void init() { m_form = testing::newMainForm(); }
    void cleanup() { delete m_form; }
    void windowFrame();
    void everyTrackBarIsVerticalWithMinAtTheTop();
    void commandRowAndStatusBar();
    void radioGroupsAreIndependent();
    void escapePressesTheConnectButton();
    void namesForPeopleAndTools();
    void screenReaderHearsWhatIsShown();
    void progressWindowStaysHidden();
    void qtsOwnTextsFollowTheWindow();
    void firstClickAfterAFileDialogCounts();

private:
    testing::WorkingFolder m_folder; // start-up reads and nothing writes files here
    TMainForm *m_form = nullptr;
};

void TestMainWindow::windowFrame()
{
    QCOMPARE(m_form->windowTitle(), QString("DSP C-Ver6.0"));
    QCOMPARE(m_form->size(), QSize(1184, 901));
    QVERIFY(!m_form->pagesScroll()); // the screen is large enough
    QCOMPARE(m_form->minimumSize(), m_form->maximumSize());
    QCOMPARE(m_form->font().pixelSize(), 19);
    QCOMPARE(m_form->font().families().first(), QString("宋体"));
    QCOMPARE(m_form->palette().color(QPalette::Window), QColor(166, 202, 240));
    QTabWidget *pages = m_form->pages();
    QCOMPARE(pages->count(), 3);
    QCOMPARE(pages->tabText(0), QString("音乐调整"));
    QCOMPARE(pages->tabText(1), QString("话筒调整"));
    QCOMPARE(pages->tabText(2), QString("效果调整"));
    QCOMPARE(pages->currentIndex(), 1);
}

void TestMainWindow::everyTrackBarIsVerticalWithMinAtTheTop()
{
    const QList<QSlider *> bars = m_form->findChildren<QSlider *>();
    QCOMPARE(bars.size(), 48);
    for (QSlider *bar : bars) {
        QVERIFY2(bar->orientation() == Qt::Vertical, qPrintable(bar->objectName()));
        QVERIFY(bar->invertedAppearance());
        QCOMPARE(bar->singleStep(), 1);
        QCOMPARE(bar->pageStep(), 1);
    }
    QCOMPARE(m_form->trackBar(24)->tickPosition(), QSlider::TicksBothSides);
    QCOMPARE(m_form->trackBar(16)->tickPosition(), QSlider::NoTicks);

    // Down moves the handle down, towards Max, as on the screen.
    m_form->show();
    QSlider *key = m_form->trackBar(21);
    key->setFocus();
    const int before = key->value();
    QTest::keyClick(key, Qt::Key_Down);
    QCOMPARE(key->value(), before + 1);
    QTest::keyClick(key, Qt::Key_Up);
    QCOMPARE(key->value(), before);

    // The start refresh has shown the factory values.
    QCOMPARE(m_form->valueLabel(50)->text(), QString("34"));
    QCOMPARE(m_form->findChild<QLabel *>("ReverbDampLabel")->text(), QString("30"));
}

void TestMainWindow::commandRowAndStatusBar()
{
    const QStringList names = {"CommunicationBitBtn", "RunCtlDataBitBtn",  "SendAllBitBtn",
                               "LoadDefaultBitBtn",   "LoadMachineBitBtn", "ReadFileBitBtn",
                               "SaveFileBitBtn",      "LockDataBitBtn",    "ChangePWDBitBtn",
                               "CommSetBitBtn"};
    m_form->show();
    const QStringList captions = {"已断开...",  "不调节机器",  "全部发送", "出厂设置",
                                  "调机器数据", "调用文件",    "写入文件", "锁定机器",
                                  "更改密码",   "COM(USB)设置"};
    int lastX = -1;
    for (int i = 0; i < names.size(); ++i) {
        auto *button = m_form->findChild<QPushButton *>(names[i]);
        QVERIFY2(button, qPrintable(names[i]));
        QCOMPARE(button->text(), captions[i]);
        const int x = button->mapTo(m_form, QPoint()).x();
        QVERIFY(x > lastX);
        lastX = x;
    }
    QCOMPARE(m_form->CommunicationBitBtn->palette().color(QPalette::ButtonText), QColor(Qt::red));

    // After a start-up with no port behind port 1 (and real-time control turned off again).
    const QStringList texts = {"断开", "脱离", "未锁定", "串口打开错误，请检查串口号：设备不存在",
                               "通讯："};
    const int widths[] = {100, 100, 100, 505, 155};
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(m_form->statusPanel(i)->text(), texts[i]);
        QCOMPARE(m_form->statusPanel(i)->width(), widths[i]);
    }
    QCOMPARE(m_form->progressBar()->minimum(), 0);
    QCOMPARE(m_form->progressBar()->maximum(), 56);
    QVERIFY(m_form->progressBar()->mapTo(m_form, QPoint()).x() >
            m_form->statusPanel(4)->mapTo(m_form, QPoint()).x());

    // The password button has nothing behind it.
    const QString help = m_form->statusPanel(3)->text();
    const auto image = m_form->model().image;
    m_form->ChangePWDBitBtn->click();
    QCOMPARE(m_form->statusPanel(3)->text(), help);
    QVERIFY(m_form->model().image == image);
}

void TestMainWindow::radioGroupsAreIndependent()
{
    m_form->radioButton(44, 3)->click();
    m_form->radioButton(18, 1)->click();
    m_form->radioButton(36, 8)->click();
    QVERIFY(m_form->radioButton(44, 3)->isChecked());
    QVERIFY(m_form->radioButton(18, 1)->isChecked());
    QVERIFY(m_form->radioButton(36, 8)->isChecked());
    QVERIFY(m_form->radioButton(23, 0)->isChecked());
    QVERIFY(m_form->radioButton(49, 2)->isChecked());
    QVERIFY(!m_form->radioButton(18, 2)->isChecked());
}

void TestMainWindow::escapePressesTheConnectButton()
{
    m_form->show();
    m_form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form));
    QSignalSpy pressed(m_form->CommunicationBitBtn, &QPushButton::clicked);
    QTest::keyClick(m_form, Qt::Key_Escape);
    QCOMPARE(pressed.count(), 1);
    QTest::keyClick(m_form, Qt::Key_Escape, Qt::ShiftModifier);
    QTest::keyClick(m_form, Qt::Key_Escape, Qt::ControlModifier);
    QTest::keyClick(m_form, Qt::Key_Escape, Qt::AltModifier);
    QCOMPARE(pressed.count(), 1);
}

namespace {
QString heard(QWidget *widget, QAccessible::Text what = QAccessible::Name)
{
    QAccessibleInterface *face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(what) : QString();
}
} // namespace

// Every design-named control is announced; the bars, which show no text, by names of their
// own that tell each from every other.
void TestMainWindow::namesForPeopleAndTools()
{
    QStringList designNames = {"DSPMode5RadioButton", "DSPModeCSpinEdit", "ProgressBar"};
    for (const zev::RegisterRow &row : zev::registerMap()) {
        if (row.control) designNames << row.control;
        if (row.label) designNames << row.label;
        for (const zev::Choice &choice : row.choices)
            designNames << choice.control;
    }
    for (const QString &name : designNames) {
        auto *w = m_form->findChild<QWidget *>(name);
        QVERIFY2(w, qPrintable(name));
        QVERIFY2(!heard(w).isEmpty(), qPrintable(name));
    }
    QCOMPARE(heard(m_form->radioButton(44, 1)), QString("模式一"));

    // All 56 registers: one name each, unique, the same in the window's accessibility tree
    // and in everything zev720ctl prints (here the titles of show --json).
    zev::ParameterModel factory;
    factory.loadFactoryValues();
    std::string error;
    QVERIFY(zev::writeParameterFile("factory.dat", factory, error));
    QProcess ctl;
    ctl.start(testing::buildDir() + "/zev720ctl", {"show", "factory.dat", "--json"});
    QVERIFY(ctl.waitForFinished(10000));
    QMap<int, QString> toolNames;
    for (const QJsonValue &entry :
         QJsonDocument::fromJson(ctl.readAllStandardOutput()).object()["registers"].toArray())
        toolNames[entry["address"].toInt()] = entry["title"].toString();
    QSet<QString> names;
    for (const zev::RegisterRow &row : zev::registerMap()) {
        QWidget *control = m_form->trackBar(row.address);
        if (!control) control = m_form->checkBox(row.address);
        if (!control) control = m_form->radioButton(row.address, row.choices[0].value)->parentWidget();
        const QString name = heard(control);
        QVERIFY2(!name.trimmed().isEmpty(), qPrintable(QString::number(row.address)));
        QCOMPARE(name, toolNames.value(row.address));
        names << name;
    }
    QCOMPARE(names.size(), 56);
    QCOMPARE(heard(m_form->trackBar(24)), QString("音乐调整 7 BAND-EQ 16KHz"));
    QCOMPARE(heard(m_form->trackBar(37)), QString("话筒调整 7 BAND-EQ 16KHz"));
    QCOMPARE(heard(m_form->trackBar(32)), QString("话筒调整 音量"));
    QCOMPARE(heard(m_form->trackBar(51)), QString("回声 R延时"));
    QCOMPARE(heard(m_form->trackBar(61)), QString("合唱 延时"));
    QCOMPARE(heard(m_form->trackBar(80)), QString("中置调整 音乐音量"));
    QCOMPARE(heard(m_form->trackBar(69)), QString("5 BAND-EQ 100Hz"));
    QCOMPARE(heard(m_form->checkBox(22)), QString("音乐输入 LOUD"));
}

// A screen reader hears what the window shows, as it changes: captions, value labels, the
// status panels; the role of a label or panel is its description, and a bar describes itself
// by the value shown beside it.
void TestMainWindow::screenReaderHearsWhatIsShown()
{
    m_form->RunCtlDataBitBtnClick();
    QCOMPARE(m_form->RunCtlDataBitBtn->text(), QString("实时调节机器"));
    QCOMPARE(heard(m_form->RunCtlDataBitBtn), QString("实时调节机器"));
    m_form->CommunicationBitBtn->setText("已连接..");
    QCOMPARE(heard(m_form->CommunicationBitBtn), QString("已连接.."));

    QSlider *volume = m_form->trackBar(16);
    QLabel *label = m_form->valueLabel(16);
    testing::dragBar(volume, 21);
    QCOMPARE(label->text(), QString("67dB"));
    QCOMPARE(heard(label), QString("67dB"));
    QCOMPARE(heard(label, QAccessible::Description), QString("音乐调整 音量 数值"));
    QCOMPARE(heard(volume), QString("音乐调整 音量"));
    QCOMPARE(heard(volume, QAccessible::Description), QString("67dB"));
    m_form->model().image[16] = 30; // a change from elsewhere: the refresh
    m_form->SetControlFromRegister(16);
    QCOMPARE(heard(volume, QAccessible::Description), label->text());
    QCOMPARE(heard(volume, QAccessible::Description), QString("58dB"));
    QSlider *key = m_form->trackBar(21); // no value label: its scale's caption
    key->setValue(2);
    QCOMPARE(heard(key, QAccessible::Description), QString("#3"));

    m_form->ShowHelpText("全部参数改为出厂设置。");
    QCOMPARE(heard(m_form->statusPanel(3)), QString("全部参数改为出厂设置。"));
    QCOMPARE(heard(m_form->statusPanel(3), QAccessible::Description), QString("帮助信息"));
    QCOMPARE(heard(m_form->statusPanel(1)), QString("实时"));
    QCOMPARE(heard(m_form->statusPanel(1), QAccessible::Description), QString("实时状态"));
}

void TestMainWindow::progressWindowStaysHidden()
{
    TProgressForm progress;
    QCOMPARE(progress.windowTitle(), QString("进度条"));
    QVERIFY(progress.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!(progress.windowFlags() & Qt::WindowCloseButtonHint));
    QCOMPARE(progress.MessageLabel->text(), QString("运行进度"));
    QVERIFY(progress.MessageLabel->font().bold());
    QCOMPARE(progress.ProgressBar->maximum(), 500);
    QVERIFY(progress.isHidden());
}

// The file dialogs and the boxes' standard buttons speak the window's language, as the
// program loads Qt's own translation at its start.
void TestMainWindow::qtsOwnTextsFollowTheWindow()
{
    QVERIFY(look::translateQtTexts());
    QFileDialog dialog(m_form); // as the window makes its own, when first asked for one
    dialog.setOptions(QFileDialog::DontUseNativeDialog);
    const auto *lookIn = dialog.findChild<QLabel *>("lookInLabel");
    QVERIFY(lookIn);
    QVERIFY2(!lookIn->text().contains("Look in"), qPrintable(lookIn->text()));
    for (const QPushButton *button : dialog.findChildren<QPushButton *>())
        QVERIFY2(!QStringList({"&Open", "&Save", "Cancel"}).contains(button->text()),
                 qPrintable(button->text()));
    QMessageBox box(QMessageBox::Critical, "DSP C-Ver6.0", "x", QMessageBox::Yes);
    QVERIFY2(box.button(QMessageBox::Yes)->text().contains("是"),
             qPrintable(box.button(QMessageBox::Yes)->text()));
    QVERIFY(look::translateQtTexts("xx_XX") == false); // no such translation: English stays
}

// A name typed into the file dialog opens its completion list; Enter reads the file, and the
// next click on the window is a click, not the list's dismissal.
void TestMainWindow::firstClickAfterAFileDialogCounts()
{
    m_form->show();
    m_form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form));
    QFile original(QFINDTESTDATA("../fuzz/corpus/parameterfile/factory"));
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QByteArray factory = original.readAll();
    QVERIFY(testing::writeFile("room-a.dat", factory) && testing::writeFile("room-b.dat", factory));
    bool typed = false;
    QTimer type;
    QObject::connect(&type, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible() || typed) return;
        auto *edit = dialog->findChild<QLineEdit *>("fileNameEdit");
        if (!edit) return;
        typed = true;
        edit->setFocus();
        QTest::keyClicks(edit, "room-");
        QTRY_VERIFY(QApplication::activePopupWidget()); // the completion list, as a person sees
        QTest::keyClicks(edit, "a.dat");
        QTest::keyClick(edit, Qt::Key_Return); // the list takes the first Return where it is open
        if (dialog->isVisible() && QApplication::focusWidget() == edit)
            QTest::keyClick(edit, Qt::Key_Return);
    });
    type.start(10);
    m_form->ReadFileBitBtn->click();
    type.stop();
    QVERIFY(typed);
    QCoreApplication::processEvents();
    QVERIFY(!QApplication::activeModalWidget());
    // The list left open would take the next click (and X's pointer grab with it).
    QVERIFY(!QApplication::activePopupWidget());
    QCheckBox *box = m_form->checkBox(22);
    testing::showControl(box);
    const bool before = box->isChecked();
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    QCOMPARE(box->isChecked(), !before);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
