// The main window on screens smaller than it, a laptop's 1366 x 768 and a netbook's
// 1024 x 600 (the screen is the test's): it fills the screen, only the page scrolls, and the
// page tabs, the command row and the status bar stay in sight however far it is scrolled.
#include "support/Gui.h"
#include "support/Sim.h"
#include "ui/Main.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTabBar>
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
    QVERIFY(screen.height() < 901);
    std::unique_ptr<TMainForm> form(testing::newMainForm());
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QVERIFY(form->pagesScroll());
    QCOMPARE(form->pages()->count(), 3); // the same window
    // The whole height of the screen, frame included, and no more; on X without a window
    // manager nobody maximizes it, and it is as tall as the screen less a manager's frame.
    if (QGuiApplication::platformName() == "xcb")
        QVERIFY(form->frameGeometry().height() <= screen.height() &&
                form->frameGeometry().height() >= screen.height() - 48);
    else
        QTRY_COMPARE(form->frameGeometry().height(), screen.height());
    QVERIFY(form->frameGeometry().width() <= screen.width());

    // The status bar's panels side by side however narrow the window: the help panel gives way.
    for (int panel = 0; panel + 1 < 5; ++panel)
        QVERIFY2(form->statusPanel(panel)->geometry().right() <
                     form->statusPanel(panel + 1)->geometry().left(),
                 qPrintable(QString::number(panel)));
    const QRect window(form->mapToGlobal(QPoint(0, 0)), form->size());
    const auto fixedPartsInSight = [&] {
        if (!within(form->pages()->tabBar(), window)) return false;
        for (QPushButton *button : {form->CommunicationBitBtn, form->CommSetBitBtn})
            if (!within(button, window)) return false;
        for (int panel = 0; panel < 5; ++panel)
            if (!within(form->statusPanel(panel), window)) return false;
        return true;
    };
    // Tab goes from the tabs into the page and from the page's last control to the command
    // row, as in the full window; the scroll area is no stop of its own.
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    form->pages()->tabBar()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(form->pages()->tabBar(), Qt::Key_Tab);
    QWidget *first = QApplication::focusWidget();
    QVERIFY2(first && form->pages()->currentWidget()->isAncestorOf(first) &&
                 !qobject_cast<QScrollArea *>(first),
             first ? qPrintable(first->objectName()) : "nothing");
    QWidget *last = nullptr;
    for (QWidget *w = first; w && w != form->CommunicationBitBtn; w = w->nextInFocusChain())
        if (w->isVisible() && (w->focusPolicy() & Qt::TabFocus)) last = w;
    QVERIFY(last && form->pages()->currentWidget()->isAncestorOf(last));
    last->setFocus(Qt::TabFocusReason);
    QTest::keyClick(last, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), form->CommunicationBitBtn);

    for (int page = 0; page < form->pages()->count(); ++page) {
        form->pages()->setCurrentIndex(page);
        auto *scroller = qobject_cast<QScrollArea *>(form->pages()->currentWidget());
        QVERIFY(scroller);
        QVERIFY(scroller->verticalScrollBar()->maximum() > 0);
        // A screen as wide as the window leaves nothing to scroll sideways.
        if (screen.width() >= 1366)
            QVERIFY2(scroller->horizontalScrollBar()->maximum() == 0,
                     qPrintable(QString("%1 of %2 wide: %3 to scroll")
                                    .arg(scroller->viewport()->width())
                                    .arg(scroller->widget()->minimumWidth())
                                    .arg(scroller->horizontalScrollBar()->maximum())));
        scroller->verticalScrollBar()->setValue(scroller->verticalScrollBar()->maximum());
        QCoreApplication::processEvents();
        QVERIFY2(fixedPartsInSight(), qPrintable(form->pages()->tabText(page)));
        // Every bar of the page can be scrolled into view, whole, with the tabs still there.
        for (QSlider *bar : scroller->widget()->findChildren<QSlider *>()) {
            if (!bar->isVisibleTo(scroller->widget())) continue;
            scroller->ensureWidgetVisible(bar, 0, 0);
            QCoreApplication::processEvents();
            const QRect viewport(scroller->viewport()->mapToGlobal(QPoint(0, 0)),
                                 scroller->viewport()->size());
            QVERIFY2(within(bar, viewport), qPrintable(bar->objectName()));
        }
        QVERIFY(fixedPartsInSight());
    }
}

QTEST_MAIN(TestSmallScreen)
#include "tst_smallscreen.moc"
