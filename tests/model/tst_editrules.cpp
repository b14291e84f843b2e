// The rules a change follows without the window (what the venue server applies for pages and
// scripts) against the window itself: the same random changes made through the window's
// controls and through applyEdit end in the same registers and mode memories.
#include "model/EditRules.h"
#include "model/Encoding.h"
#include "model/Shown.h"
#include "support/Gui.h"
#include "support/Sim.h"
#include "ui/Main.h"
#include "ui/Widgets.h"

#include <QCheckBox>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QSlider>
#include <QTest>

using namespace zev;

class TestEditRules : public QObject {
    Q_OBJECT
private slots:
    void sameAsTheWindow();
    void coupledPairsInTheirOrder();
    void modeChoicesAndRefusals();
    void stepsFollowTheShownNumber();

private:
    testing::WorkingFolder m_folder;
};

void TestEditRules::sameAsTheWindow()
{
    std::unique_ptr<TMainForm> form(testing::newMainForm());
    ParameterModel rules = form->model();
    std::vector<const RegisterRow *> rows;
    for (const RegisterRow &row : registerMap()) rows.push_back(&row);
    QRandomGenerator random(720);
    for (int step = 0; step < 3000; ++step) {
        const RegisterRow &row = *rows[random.bounded(int(rows.size()))];
        const std::uint8_t a = row.address;
        QString what;
        switch (controlKind(row)) {
        case ControlKind::TrackBar: {
            // Coupled bars are chosen more often, so the pairs meet in every order.
            const RegisterRow &bar =
                random.bounded(3) ? row : *findRegister(std::array<std::uint8_t, 6>{16, 17, 32, 33, 85, 86}[std::size_t(random.bounded(6))]);
            const int position = random.bounded(bar.min, bar.max + 1);
            what = QString("bar %1 to %2").arg(bar.address).arg(position);
            form->trackBar(bar.address)->setValue(position);
            applyEdit(rules, bar.address, encodePosition(bar, position));
            break;
        }
        case ControlKind::CheckBox: {
            const bool checked = !form->checkBox(a)->isChecked();
            what = QString("check %1").arg(a);
            form->checkBox(a)->click();
            applyEdit(rules, a, checked == decodeChecked(row, 255) ? 255 : 0);
            break;
        }
        case ControlKind::Radio:
        case ControlKind::Mode:
            if (a == kDspModeRegister && random.bounded(3) == 0) {
                const int mode = random.bounded(kFirstFixedDspMode, kLastFixedDspMode + 1);
                what = QString("fixed mode %1").arg(mode);
                form->DSPModeCSpinEdit()->setValue(mode);
                form->DSPMode5RadioButton()->click();
                applyEdit(rules, a, std::uint8_t(mode));
            } else {
                const Choice &choice = row.choices[random.bounded(int(row.choices.size()))];
                what = QString("radio %1 to %2").arg(a).arg(choice.value);
                form->radioButton(a, choice.value)->click();
                applyEdit(rules, a, choice.value);
            }
            break;
        }
        const ParameterModel &window = form->model();
        for (int r = 0; r < 256; ++r)
            if (window.image[r] != rules.image[r])
                QFAIL(qPrintable(QString("step %1 (%2): register %3 is %4 in the window, %5 by the rules")
                                     .arg(step).arg(what).arg(r).arg(window.image[r]).arg(rules.image[r])));
        QVERIFY2(window.modeSlots == rules.modeSlots, qPrintable(QString("step %1 (%2): mode memories differ").arg(step).arg(what)));
    }
}

void TestEditRules::coupledPairsInTheirOrder()
{
    ParameterModel model;
    model.loadFactoryValues();
    model.image[16] = 30;
    model.image[17] = 20;
    // A maximum moved below the volume takes the volume with it, volume first.
    QCOMPARE(applyEdit(model, 17, 40), (std::vector<std::uint8_t>{16, 17}));
    QCOMPARE(int(model.image[16]), 40);
    // A volume moved above its maximum stops at it: nothing changes when it stands there.
    QCOMPARE(applyEdit(model, 16, 5), (std::vector<std::uint8_t>{}));
    QCOMPARE(int(model.image[16]), 40);
    // The attenuation end: position 88 is value 127, and the pair compares positions.
    QCOMPARE(applyEdit(model, 17, 127), (std::vector<std::uint8_t>{16, 17}));
    QCOMPARE(int(model.image[16]), 127);
    // The bass pair leads the other way: the bass volume first, the mic-on bass after.
    model.image[85] = 10;
    model.image[86] = 20;
    QCOMPARE(applyEdit(model, 85, 50), (std::vector<std::uint8_t>{85, 86}));
    QCOMPARE(int(model.image[86]), 50);
    // An address without a setting changes nothing.
    QCOMPARE(applyEdit(model, 19, 5), (std::vector<std::uint8_t>{}));
}

void TestEditRules::modeChoicesAndRefusals()
{
    ParameterModel model;
    model.loadFactoryValues();
    model.image[23] = 0;
    model.image[24] = 3;
    model.modeSlots[4][24] = 7;
    const auto changed = applyEdit(model, 23, 4);
    QCOMPARE(changed.front(), std::uint8_t(23));
    QCOMPARE(int(model.image[24]), 7);
    QCOMPARE(int(model.modeSlots[0][24]), 3);
    // No button chooses EQ mode 5 or DSP mode 0 or 21: refused whole.
    const ParameterModel before = model;
    QVERIFY(applyEdit(model, 23, 5).empty());
    QVERIFY(applyEdit(model, 49, 0).empty());
    QVERIFY(applyEdit(model, 49, 21).empty());
    QVERIFY(model.image == before.image && model.modeSlots == before.modeSlots);
    // A fixed mode swaps nothing.
    QCOMPARE(applyEdit(model, 49, 12), (std::vector<std::uint8_t>{49}));
    QVERIFY(model.modeSlots == before.modeSlots);
}

void TestEditRules::stepsFollowTheShownNumber()
{
    const RegisterRow &volume = *findRegister(16);
    QCOMPARE(shownValue(volume, *steppedValue(volume, 20, +1)), std::string("69dB"));
    QCOMPARE(shownValue(volume, *steppedValue(volume, 20, -1)), std::string("67dB"));
    QVERIFY(!steppedValue(volume, 0, +1));                   // 88dB: the top
    QCOMPARE(int(*steppedValue(volume, 127, +1)), 87);       // from 0dB up one
    QVERIFY(!steppedValue(volume, 127, -1));
    const RegisterRow &key = *findRegister(21);              // "b4" .. "#4"
    QCOMPARE(shownValue(key, *steppedValue(key, 5, +1)), std::string("#1"));
    QCOMPARE(shownValue(key, *steppedValue(key, 5, -1)), std::string("b1"));
    QVERIFY(!steppedValue(*findRegister(34), 0, +1));        // a check box has no steps
}

QTEST_MAIN(TestEditRules)
#include "tst_editrules.moc"
