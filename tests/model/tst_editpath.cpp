// The edit path and the handlers that feed it, driven through the real controls.
#include "support/Gui.h"
#include "support/Sim.h"
#include "ui/Main.h"

#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

using zev::kPendingRead;
using zev::kPendingWrite;

class TestEditPath : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup() { delete m_form; }
    void realTimeMarksAndShowsUnlocked();
    void realTimeOffOnlyStores();
    void unchangedValueRewritesTheLabelOnly();
    void musicInputAlwaysCountsAsChanged();
    void checkBoxesPassTheirOwnValues();
    void aPendingReadBecomesAWrite();
    void musicPairHoldsItsOrder();
    void bassPairHoldsItsOrder();
    void keysAndMouseUseTheSameHandlers();

private:
    testing::WorkingFolder m_folder; // start-up reads and nothing writes files here
    QList<int> editedAddresses() const;
    TMainForm *m_form = nullptr;
    QSignalSpy *m_edits = nullptr;
};

void TestEditPath::init()
{
    m_form = testing::newMainForm();
    m_form->show();
    m_edits = new QSignalSpy(m_form, &TMainForm::registerEdited);
    m_edits->setParent(m_form);
}

QList<int> TestEditPath::editedAddresses() const
{
    QList<int> addresses;
    for (const QList<QVariant> &edit : *m_edits)
        addresses << edit.at(0).toInt();
    return addresses;
}

void TestEditPath::realTimeMarksAndShowsUnlocked()
{
    m_form->model().realTime = true;
    m_form->statusPanel(2)->setText("已锁定");
    m_form->trackBar(16)->setValue(21);
    QCOMPARE(int(m_form->model().image[16]), 21);
    QCOMPARE(int(m_form->model().pending[16]), int(kPendingWrite));
    QCOMPARE(m_form->valueLabel(16)->text(), QString("67dB"));
    QCOMPARE(m_form->statusPanel(2)->text(), QString("未锁定"));
    QCOMPARE(m_form->model().pendingCount(), 1);

    m_form->trackBar(16)->setValue(88); // the bottom stores 127
    QCOMPARE(int(m_form->model().image[16]), 127);
    QCOMPARE(m_form->valueLabel(16)->text(), QString("0dB"));
}

void TestEditPath::realTimeOffOnlyStores()
{
    m_form->statusPanel(2)->setText("已锁定");
    m_form->trackBar(16)->setValue(21);
    QCOMPARE(int(m_form->model().image[16]), 21);
    QCOMPARE(m_form->valueLabel(16)->text(), QString("67dB"));
    QCOMPARE(m_form->model().pendingCount(), 0);
    QCOMPARE(m_form->statusPanel(2)->text(), QString("已锁定"));
    QVERIFY(!m_form->SetRegisterFromControl(19, 5)); // no such register
    QVERIFY(!m_form->SetRegisterFromControl(100, 5));
    QCOMPARE(int(m_form->model().image[19]), 0);
}

void TestEditPath::unchangedValueRewritesTheLabelOnly()
{
    m_form->model().realTime = true;
    m_form->valueLabel(50)->setText("stale");
    QVERIFY(!m_form->SetRegisterFromControl(50, 16)); // 50 - 16 = 34, the stored value
    QCOMPARE(m_form->valueLabel(50)->text(), QString("34"));
    QCOMPARE(m_form->model().pendingCount(), 0);
    QVERIFY(m_edits->isEmpty());
}

void TestEditPath::musicInputAlwaysCountsAsChanged()
{
    m_form->model().realTime = true;
    QCOMPARE(int(m_form->model().image[18]), 2);
    QVERIFY(m_form->SetRegisterFromControl(18, 2));
    QCOMPARE(int(m_form->model().pending[18]), int(kPendingWrite));
    QCOMPARE(m_form->statusPanel(2)->text(), QString("未锁定"));
    QVERIFY(!m_form->SetRegisterFromControl(44, 1)); // other radios do not

    m_form->radioButton(18, 1)->click();
    QCOMPARE(int(m_form->model().image[18]), 1);
    m_form->radioButton(44, 4)->click();
    QCOMPARE(int(m_form->model().image[44]), 4);
}

void TestEditPath::checkBoxesPassTheirOwnValues()
{
    QCheckBox *excite = m_form->checkBox(34);
    QVERIFY(excite->isChecked());
    excite->click(); // unticked stores 255
    QCOMPARE(int(m_form->model().image[34]), 255);
    excite->click();
    QCOMPARE(int(m_form->model().image[34]), 0);
    m_form->checkBox(22)->click();
    QCOMPARE(int(m_form->model().image[22]), 255);
    m_form->checkBox(45)->setChecked(true); // from code, through the same handler
    QCOMPARE(int(m_form->model().image[45]), 255);
}

void TestEditPath::aPendingReadBecomesAWrite()
{
    m_form->model().realTime = true;
    m_form->model().pending[60] = kPendingRead;
    m_form->trackBar(60)->setValue(50);
    QCOMPARE(int(m_form->model().image[60]), 10);
    QCOMPARE(int(m_form->model().pending[60]), int(kPendingWrite));
}

void TestEditPath::musicPairHoldsItsOrder()
{
    for (auto [volume, maximum] : {std::pair<std::uint8_t, std::uint8_t>{16, 17}, {32, 33}}) {
        QSlider *vol = m_form->trackBar(volume);
        QSlider *max = m_form->trackBar(maximum);
        max->setValue(30);
        m_edits->clear();
        // Dragging the volume above the maximum snaps it back.
        testing::dragBar(vol, 25);
        QCOMPARE(vol->value(), 30);
        QCOMPARE(int(m_form->model().image[volume]), 30);
        QCOMPARE(int(m_form->model().image[maximum]), 30);

        // Moving the maximum up leaves the volume alone.
        testing::dragBar(max, 10);
        QCOMPARE(vol->value(), 30);
        QCOMPARE(int(m_form->model().image[maximum]), 10);

        // Moving the maximum below the volume pushes it down; the volume is edited first.
        m_edits->clear();
        max->setValue(50);
        QCOMPARE(vol->value(), 50);
        QCOMPARE(int(m_form->model().image[volume]), 50);
        QCOMPARE(int(m_form->model().image[maximum]), 50);
        QCOMPARE(editedAddresses(), (QList<int>{volume, maximum}));
    }
}

void TestEditPath::bassPairHoldsItsOrder()
{
    QSlider *bass = m_form->trackBar(85);
    QSlider *mic = m_form->trackBar(86);
    QCOMPARE(bass->value(), 0);
    QCOMPARE(mic->value(), 19);

    // The bass bar pushes the mic-on bar down with it, bass edited first.
    m_edits->clear();
    testing::dragBar(bass, 40);
    QCOMPARE(mic->value(), 40);
    QCOMPARE(int(m_form->model().image[85]), 40);
    QCOMPARE(int(m_form->model().image[86]), 40);
    QCOMPARE(editedAddresses().first(), 85);
    QVERIFY(editedAddresses().contains(86));

    // The mic-on bar cannot rise above the bass bar; the last edit holds the clamped value.
    testing::dragBar(mic, 35);
    QCOMPARE(mic->value(), 40);
    QCOMPARE(int(m_form->model().image[86]), 40);

    // Raising the bass bar leaves the other alone.
    testing::dragBar(bass, 10);
    QCOMPARE(mic->value(), 40);
    QCOMPARE(int(m_form->model().image[85]), 10);
}

void TestEditPath::keysAndMouseUseTheSameHandlers()
{
    m_form->model().realTime = true;
    QSlider *treble = m_form->trackBar(82);
    testing::showControl(treble);
    treble->setFocus();
    QTest::keyClick(treble, Qt::Key_Up); // up is +1 dB: value 9
    QCOMPARE(int(m_form->model().image[82]), 9);
    testing::dragBar(m_form->trackBar(24), -6);
    QCOMPARE(int(m_form->model().image[24]), 6);
    QTest::mouseClick(m_form->radioButton(44, 2), Qt::LeftButton);
    QCOMPARE(int(m_form->model().image[44]), 2);
    QList<int> order = editedAddresses(); // the drag edits 24 once per position it passes
    order.erase(std::unique(order.begin(), order.end()), order.end());
    QCOMPARE(order, (QList<int>{82, 24, 44}));
}

QTEST_MAIN(TestEditPath)
#include "tst_editpath.moc"
