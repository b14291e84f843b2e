#include "support/Gui.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QSlider>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>

namespace testing {

void showControl(QWidget *control)
{
    for (QWidget *w = control; w && w->parentWidget(); w = w->parentWidget())
        if (auto *stack = qobject_cast<QStackedWidget *>(w->parentWidget()))
            stack->setCurrentWidget(w);
}

void dragBar(QSlider *bar, int position)
{
    showControl(bar);
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = bar->orientation();
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.upsideDown = !bar->invertedAppearance();
    option.subControls = QStyle::SC_SliderHandle;
    QPoint at = bar->style()
                    ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, bar)
                    .center();
    QTest::mousePress(bar, Qt::LeftButton, {}, at);
    const int step = position > bar->value() ? 1 : -1;
    for (int i = 0; i < 2000 && bar->value() != position; ++i) {
        at.ry() += step;
        QMouseEvent move(QEvent::MouseMove, at, bar->mapToGlobal(at), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(bar, &move);
    }
    QTest::mouseRelease(bar, Qt::LeftButton, {}, at);
}

QString answerNextDialog(const std::function<void()> &action, const QString &buttonText)
{
    QString text;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog) return;
        poll.stop();
        if (auto *box = qobject_cast<QMessageBox *>(dialog)) {
            text = box->text();
            for (QAbstractButton *button : box->buttons()) {
                if (buttonText.isEmpty() || button->text().contains(buttonText)) {
                    button->click();
                    return;
                }
            }
        }
        dialog->accept();
    });
    poll.start();
    action();
    return text;
}

} // namespace testing
