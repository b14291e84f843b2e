// Setting the controls from the register image.
#include "support/Gui.h"
#include "support/Sim.h"
#include "ui/Main.h"

#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

using zev::kPendingWrite;

class TestRefresh : public QObject {
    Q_OBJECT
private slots:
    void init() { m_form = testing::newMainForm(); }
    void cleanup() { delete m_form; }
    void refreshThatMovesNoBarMarksOnlyTheOthers();
    void barsThatDoNotMoveKeepTheirLabels();
    void valuesNoPositionGives();
    void modeRegistersRefreshTheirBlockFirst();
    void checkBoxesWithOddValues();
    void noCouplingOnRefresh();
    void addressesWithoutControls();

private:
    testing::WorkingFolder m_folder; // start-up reads and nothing writes files here
    TMainForm *m_form = nullptr;
};

void TestRefresh::refreshThatMovesNoBarMarksOnlyTheOthers()
{
    m_form->model().realTime = true;
    m_form->statusPanel(2)->setText("已锁定");
    QVERIFY(m_form->SetAllControlsFromImage());
    QCOMPARE(testing::pendingAddresses(m_form->model()),
             (QList<int>{18, 22, 23, 34, 36, 44, 45, 49}));
    QCOMPARE(m_form->statusPanel(2)->text(), QString("未锁定"));
    QVERIFY(!m_form->model().refreshing);
}

void TestRefresh::barsThatDoNotMoveKeepTheirLabels()
{
    m_form->valueLabel(16)->setText("stale");
    QVERIFY(!m_form->SetControlFromRegister(16));
    QCOMPARE(m_form->valueLabel(16)->text(), QString("stale"));

    m_form->model().realTime = true;
    m_form->model().image[16] = 127;
    m_form->model().image[50] = 40;
    QVERIFY(m_form->SetControlFromRegister(16));
    QVERIFY(m_form->SetControlFromRegister(50));
    QCOMPARE(m_form->trackBar(16)->value(), 88);
    QCOMPARE(m_form->valueLabel(16)->text(), QString("0dB"));
    QCOMPARE(m_form->trackBar(50)->value(), 10);
    QCOMPARE(m_form->valueLabel(50)->text(), QString("40"));
    // The handlers stayed out of it: the image holds what it held, marked for sending.
    QCOMPARE(int(m_form->model().image[16]), 127);
    QCOMPARE(testing::pendingAddresses(m_form->model()), (QList<int>{16, 50}));
}

void TestRefresh::valuesNoPositionGives()
{
    m_form->model().realTime = true;
    m_form->model().image[16] = 100;
    QVERIFY(m_form->SetControlFromRegister(16));
    QCOMPARE(m_form->trackBar(16)->value(), 88);
    QCOMPARE(m_form->valueLabel(16)->text(), QString("-12dB"));
    m_form->model().pending[16] = 0;
    QVERIFY(m_form->SetControlFromRegister(16)); // 100 never equals the bar's 88
    QCOMPARE(int(m_form->model().pending[16]), int(kPendingWrite));
    QCOMPARE(int(m_form->model().image[16]), 100);

    m_form->model().image[24] = 7; // above the top of a boost-first bar
    m_form->SetControlFromRegister(24);
    QCOMPARE(m_form->trackBar(24)->value(), -6);
    m_form->model().image[82] = 8; // below the bottom of a cut-first bar
    m_form->SetControlFromRegister(82);
    QCOMPARE(m_form->trackBar(82)->value(), 7);
}

void TestRefresh::modeRegistersRefreshTheirBlockFirst()
{
    m_form->model().realTime = true;
    m_form->model().image[23] = 8;
    m_form->model().image[24] = 3;
    QVERIFY(m_form->SetControlFromRegister(23));
    QVERIFY(m_form->radioButton(23, 8)->isChecked());
    QCOMPARE(m_form->trackBar(24)->value(), -3);
    // The mode button's handler saved and restored the same slot: the image is unchanged.
    QCOMPARE(int(m_form->model().image[24]), 3);
    QCOMPARE(int(m_form->model().modeSlots[8][24]), 3);
    QCOMPARE(testing::pendingAddresses(m_form->model()), (QList<int>{23, 24}));

    // A fixed DSP mode refreshes the block and leaves the buttons as they are.
    m_form->model().image[49] = 7;
    m_form->model().image[50] = 20;
    QVERIFY(m_form->SetControlFromRegister(49));
    QCOMPARE(m_form->trackBar(50)->value(), 30);
    QVERIFY(m_form->radioButton(49, 2)->isChecked());
    QVERIFY(!m_form->DSPMode5RadioButton()->isChecked());

    // A value that matches no button of a group changes nothing there.
    m_form->model().image[23] = 2;
    m_form->SetControlFromRegister(23);
    QVERIFY(m_form->radioButton(23, 8)->isChecked());
    QVERIFY(!m_form->model().refreshing);
}

void TestRefresh::checkBoxesWithOddValues()
{
    QCheckBox *mute = m_form->checkBox(22);
    QVERIFY(!mute->isChecked());
    m_form->model().image[22] = 7;
    QVERIFY(m_form->SetControlFromRegister(22)); // the box changes: its handler stores 255
    QVERIFY(mute->isChecked());
    QCOMPARE(int(m_form->model().image[22]), 255);
    m_form->model().image[22] = 7;
    QVERIFY(m_form->SetControlFromRegister(22)); // already checked: 7 stays
    QCOMPARE(int(m_form->model().image[22]), 7);

    m_form->model().image[34] = 255;
    m_form->SetControlFromRegister(34);
    QVERIFY(!m_form->checkBox(34)->isChecked());
    m_form->model().image[34] = 0;
    m_form->SetControlFromRegister(34);
    QVERIFY(m_form->checkBox(34)->isChecked());
    m_form->model().image[34] = 9; // clears the box, whose handler stores 255
    m_form->SetControlFromRegister(34);
    QCOMPARE(int(m_form->model().image[34]), 255);
}

void TestRefresh::noCouplingOnRefresh()
{
    m_form->model().image[16] = 10;
    m_form->model().image[17] = 30;
    m_form->SetAllControlsFromImage();
    QCOMPARE(m_form->trackBar(16)->value(), 10);
    QCOMPARE(m_form->trackBar(17)->value(), 30);
    QCOMPARE(int(m_form->model().image[16]), 10);
}

void TestRefresh::addressesWithoutControls()
{
    m_form->model().realTime = true;
    for (int a : {0, 3, 19, 100, 254}) {
        m_form->model().image[a] = 77;
        QVERIFY(!m_form->SetControlFromRegister(static_cast<std::uint8_t>(a)));
    }
    QVERIFY(testing::pendingAddresses(m_form->model()).isEmpty());
}

QTEST_MAIN(TestRefresh)
#include "tst_refresh.moc"
