// A long session against a misbehaving processor: thousands of random edits, mode switches,
// send-alls and read-backs in real time while replies are dropped, corrupted and buried in
// noise. Nothing may be lost, the window must keep answering and memory must stay put.
#include "settings/PortSettings.h"
#include "support/Gui.h"
#include "support/Sim.h"
#include "ui/Main.h"
#include "ui/Widgets.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace zev;

// The event loop's longest pause is a figure for the benchmarks; here only a hang fails.
constexpr qint64 kHangMs = 5000;

class TestSoak : public QObject {
    Q_OBJECT
private slots:
    void nothingIsLost();

private:
    testing::WorkingFolder m_folder;
};

void TestSoak::nothingIsLost()
{
    constexpr int kEdits = 5000;
    testing::Sim sim({"--drop", "0.2", "--corrupt", "0.05", "--noise", "0.05", "--seed", "11"});
    sim.becomePort(1);
    std::unique_ptr<TMainForm> form(testing::newMainForm(true));
    for (int attempt = 0; attempt < 5 && !form->isConnected(); ++attempt)
        form->CommunicationBitBtn->click();
    QVERIFY(form->isConnected());
    form->Timer1->setInterval(5); // a fast line: the same work in less time

    QList<QSlider *> bars = form->findChildren<QSlider *>();
    QList<QCheckBox *> boxes = form->findChildren<QCheckBox *>();
    QList<QRadioButton *> radios = form->findChildren<QRadioButton *>();
    SpinEdit *spin = form->DSPModeCSpinEdit();
    QRandomGenerator random(5720);
    qint64 longestGap = 0;
    std::size_t heapEarly = 0;
    int bulk = 0;
    QElapsedTimer clock;
    clock.start();
    for (int edit = 0; edit < kEdits; ++edit) {
        const quint32 dice = random.bounded(100u);
        if (dice < 80) {
            QSlider *bar = bars[random.bounded(int(bars.size()))];
            if (bar->isEnabled()) bar->setValue(random.bounded(bar->minimum(), bar->maximum() + 1));
        } else if (dice < 86) {
            boxes[random.bounded(int(boxes.size()))]->click();
        } else if (dice < 96) {
            radios[random.bounded(int(radios.size()))]->click();
        } else if (dice < 98) {
            if (spin->isEnabled()) spin->stepBy(random.bounded(2) ? 1 : -1);
        } else if (dice < 99) {
            form->SendAllBitBtn->click();
            ++bulk;
        } else {
            form->LoadMachineBitBtn->click();
            ++bulk;
        }
        longestGap = std::max(longestGap, testing::runEventLoop(int(random.bounded(4))));
        if (edit == kEdits / 5) heapEarly = testing::heapInUse();
    }
    longestGap =
        std::max(longestGap,
                 testing::runEventLoop(120000, [&] { return form->model().pendingCount() == 0; }));
    const std::size_t heapLate = testing::heapInUse();
    qInfo("%d edits with %d bulk transfers in %lld ms, %lld frames to the processor, %lld "
          "replies; longest pause of the event loop %lld ms; heap %zu KB after a fifth of the "
          "edits, %zu KB at the end",
          kEdits, bulk, clock.elapsed(), qint64(sim.frames().size()),
          qint64(sim.frames(false).size()), longestGap, heapEarly / 1024, heapLate / 1024);

    QCOMPARE(form->model().pendingCount(), 0);
    const RegisterImage processor = sim.registers();
    for (const RegisterRow &row : registerMap())
        QCOMPARE(int(processor[row.address]), int(form->model().image[row.address]));
    QVERIFY2(longestGap < kHangMs, "the window hung");
    QVERIFY2(heapLate < heapEarly + 1024 * 1024, "memory grew");
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
