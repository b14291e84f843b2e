// Mode memories: EQ modes, DSP modes K1 to K4 and the fixed modes.
#include "support/Gui.h"
#include "support/Sim.h"
#include "ui/Main.h"
#include "ui/Widgets.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

class TestModes : public QObject {
    Q_OBJECT
private slots:
    void init() { m_form = testing::newMainForm(); }
    void cleanup() { delete m_form; }
    void eqModesKeepTheirOwnBlocks();
    void musicAndMicShareSlotNumbersOnly();
    void clickingTheActiveModeDoesNothing();
    void fixedModesFollowTheSpinEdit();
    void leavingAFixedModeRestoresTheKSlot();
    void oddModeValues();
    void spinEditTextCannotBeEdited();
    void effectControls();

private:
    testing::WorkingFolder m_folder; // start-up reads and nothing writes files here
    TMainForm *m_form = nullptr;
};

void TestModes::eqModesKeepTheirOwnBlocks()
{
    auto &model = m_form->model();
    model.realTime = true;
    m_form->trackBar(24)->setValue(-3); // mode one: 16KHz +3 dB
    model.pending.fill(0);
    model.modeSlots[4][25] = 10; // mode two's 6.3KHz is -2 dB

    m_form->radioButton(23, 4)->click();
    QCOMPARE(int(model.image[23]), 4);
    QCOMPARE(int(model.modeSlots[0][24]), 3);
    QCOMPARE(int(model.image[24]), 0);
    QCOMPARE(int(model.image[25]), 10);
    QCOMPARE(m_form->trackBar(25)->value(), 2);
    QCOMPARE(testing::pendingAddresses(m_form->model()), (QList<int>{23, 24, 25}));

    m_form->radioButton(23, 0)->click();
    QCOMPARE(int(model.image[24]), 3);
    QCOMPARE(int(model.modeSlots[4][25]), 10);
    QCOMPARE(m_form->trackBar(24)->value(), -3);
}

void TestModes::musicAndMicShareSlotNumbersOnly()
{
    auto &model = m_form->model();
    m_form->trackBar(24)->setValue(-1);
    m_form->trackBar(37)->setValue(2);
    m_form->radioButton(23, 4)->click();
    m_form->radioButton(36, 4)->click();
    m_form->trackBar(24)->setValue(-4);
    m_form->trackBar(37)->setValue(5);
    m_form->radioButton(23, 0)->click(); // music mode two's block goes to slot 4
    m_form->radioButton(36, 0)->click(); // and the mic's beside it
    QCOMPARE(int(model.modeSlots[4][24]), 4);
    QCOMPARE(int(model.modeSlots[4][37]), 13);
    QCOMPARE(int(model.image[24]), 1);
    QCOMPARE(int(model.image[37]), 10);
    QCOMPARE(int(model.modeSlots[0][24]), 1);
    QCOMPARE(int(model.modeSlots[0][37]), 10);
}

void TestModes::clickingTheActiveModeDoesNothing()
{
    auto &model = m_form->model();
    model.realTime = true;
    model.modeSlots[2][50] = 1; // would show if slot 2 were restored
    m_form->radioButton(49, 2)->click();
    m_form->radioButton(23, 0)->click();
    QVERIFY(testing::pendingAddresses(m_form->model()).isEmpty());
    QCOMPARE(int(model.image[50]), 34);
}

void TestModes::fixedModesFollowTheSpinEdit()
{
    auto &model = m_form->model();
    model.realTime = true;
    SpinEdit *spin = m_form->DSPModeCSpinEdit();
    m_form->DSPMode5RadioButton()->click();
    QVERIFY(spin->isEnabled());
    QCOMPARE(int(model.image[49]), 5);
    QCOMPARE(int(model.image[50]), 34); // nothing swapped
    QVERIFY(!m_form->trackBar(50)->isEnabled());

    testing::showControl(spin);
    spin->setFocus();
    for (int expected : {6, 7, 8}) {
        model.pending.fill(0);
        QTest::keyClick(spin, Qt::Key_Up);
        QCOMPARE(int(model.image[49]), expected);
        QCOMPARE(int(model.pending[49]), 1);
    }
    spin->setValue(20);
    QTest::keyClick(spin, Qt::Key_Up);
    QCOMPARE(spin->value(), 20);
    QTest::keyClick(spin, Qt::Key_PageDown); // one step at a time only
    QCOMPARE(spin->value(), 20);

    // The button applies the spin edit's number, not register 49.
    m_form->radioButton(49, 1)->click();
    QVERIFY(!spin->isEnabled());
    spin->setValue(5);
    model.image[49] = 12;
    m_form->DSPMode5RadioButton()->click();
    QCOMPARE(int(model.image[49]), 5);
}

void TestModes::leavingAFixedModeRestoresTheKSlot()
{
    auto &model = m_form->model();
    m_form->LoadFactoryValues();
    m_form->SetAllControlsFromImage();
    m_form->trackBar(50)->setValue(0); // K2's echo level 50, never saved to slot 2
    m_form->DSPMode5RadioButton()->click();
    m_form->DSPModeCSpinEdit()->setValue(7);
    QCOMPARE(int(model.image[49]), 7);
    m_form->radioButton(49, 2)->click();
    QCOMPARE(int(model.modeSlots[7][50]), 50);
    QCOMPARE(int(model.image[50]), 34); // slot 2's preset came back
    QVERIFY(m_form->trackBar(50)->isEnabled());

    m_form->radioButton(49, 1)->click();
    const int k1[] = {36, 20, 17, 19, 60, 0, 30, 29, 26, 10};
    for (int i = 0; i < 10; ++i)
        QCOMPARE(int(model.image[50 + i]), k1[i]);
}

void TestModes::oddModeValues()
{
    auto &model = m_form->model();
    model.image[23] = 5; // not a music EQ mode: no button follows
    m_form->SetControlFromRegister(23);
    model.image[24] = 2;
    m_form->radioButton(23, 8)->click();
    QCOMPARE(int(model.modeSlots[5][24]), 2);

    model.image[36] = 200; // above the slots: nothing saved
    model.image[37] = 9;
    model.modeSlots[8][37] = 3;
    m_form->radioButton(36, 8)->click();
    QCOMPARE(int(model.image[37]), 3);

    // A file's fixed mode leaves the DSP buttons, effect controls and spin edit alone.
    model.image[49] = 7;
    m_form->SetAllControlsFromImage();
    QVERIFY(m_form->radioButton(49, 2)->isChecked());
    QVERIFY(m_form->trackBar(55)->isEnabled());
    QVERIFY(!m_form->DSPModeCSpinEdit()->isEnabled());
}

void TestModes::spinEditTextCannotBeEdited()
{
    SpinEdit *spin = m_form->DSPModeCSpinEdit();
    m_form->DSPMode5RadioButton()->click();
    testing::showControl(spin);
    QLineEdit *text = spin->findChild<QLineEdit *>();
    QVERIFY(text->isReadOnly());
    spin->setFocus();
    QTest::keyClicks(spin, "1");
    QTest::keyClick(spin, Qt::Key_Backspace);
    QApplication::clipboard()->setText("17");
    QTest::keySequence(spin, QKeySequence::Paste);
    QTest::keySequence(spin, QKeySequence::Cut);
    QCOMPARE(spin->text(), QString("5"));
    QCOMPARE(int(m_form->model().image[49]), 5);
}

void TestModes::effectControls()
{
    m_form->SetEffectControlsEnabled(false);
    int bars = 0;
    QStringList labels;
    for (QWidget *w : m_form->findChildren<QWidget *>()) {
        if (w->isEnabled()) continue;
        if (qobject_cast<QSlider *>(w)) ++bars;
        if (auto *label = qobject_cast<QLabel *>(w)) labels << label->text();
    }
    QCOMPARE(bars, 15);
    QCOMPARE(labels.size(), 33);
    for (const char *caption : {"回声", "混响", "宽度", "预延时", "颤音频率", "级数"})
        QVERIFY2(labels.contains(caption), caption);
    QVERIFY(m_form->trackBar(48)->isEnabled());
    QVERIFY(m_form->trackBar(65)->isEnabled());
    m_form->SetEffectControlsEnabled(true);
    QVERIFY(m_form->trackBar(64)->isEnabled());
}

QTEST_MAIN(TestModes)
#include "tst_modes.moc"
