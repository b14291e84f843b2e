// The main window on a laptop's 1366 x 768 screen, smaller than the window: its pages scroll,
// and everything else stays in sight.
#include "support/Gui.h"
#include "support/Sim.h"
#include "ui/Main.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>

class TestSmallScreen : public QObject {
    Q_OBJECT
private slots:
    void everyControlCanBeReached();

private:
    testing::WorkingFolder m_folder;
};

namespace {
// True when the whole of `widget` lies inside `area` (in global coordinates).
bool within(const QWidget *widget, const QRect &area)
{
    return area.contains(QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size()));
}
} // namespace

void TestSmallScreen::everyControlCanBeReached()
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(screen.size(), QSize(1366, 768));
    std::unique_ptr<TMainForm> form(testing::newMainForm());
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QVERIFY(form->pagesScroll());
    QVERIFY(form->width() <= screen.width() && form->height() <= screen.height());
    QCOMPARE(form->pages()->count(), 3); // the same window

    // The command row and the status bar never scroll away.
    const QRect window(form->mapToGlobal(QPoint(0, 0)), form->size());
    for (QPushButton *button : {form->CommunicationBitBtn, form->CommSetBitBtn})
        QVERIFY(within(button, window));
    for (int panel = 0; panel < 5; ++panel)
        QVERIFY(within(form->statusPanel(panel), window));

    // Every bar of every page can be scrolled into view, whole.
    auto *scroller = form->findChild<QScrollArea *>("PageScroller");
    QVERIFY(scroller);
    QVERIFY(scroller->verticalScrollBar()->maximum() > 0);
    for (QSlider *bar : form->findChildren<QSlider *>()) {
        testing::showControl(bar);
        scroller->ensureWidgetVisible(bar, 0, 0);
        QCoreApplication::processEvents();
        const QRect viewport(scroller->viewport()->mapToGlobal(QPoint(0, 0)),
                             scroller->viewport()->size());
        QVERIFY2(within(bar, viewport), qPrintable(bar->objectName()));
    }
}

QTEST_MAIN(TestSmallScreen)
#include "tst_smallscreen.moc"
