#include "support/Gui.h"

#include "ui/Main.h"

#include <malloc.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QSlider>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>

namespace testing {

TMainForm *newMainForm(bool realTime)
{
    // A name of this process's own: the serial layer's lock file is named after the device, and
    // suites run side by side would otherwise find each other's lock ("held by another
    // program") on the same missing device.
    if (qEnvironmentVariableIsEmpty("ZEV720_COM1"))
        qputenv("ZEV720_COM1",
                QByteArray("/nonexistent/zev720-test-port-") + QByteArray::number(qint64(getpid())));
    auto *form = new TMainForm;
    if (form->model().realTime != realTime) form->RunCtlDataBitBtnClick();
    return form;
}

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
        QMouseEvent move(QEvent::MouseMove, at, bar->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(bar, &move);
    }
    QTest::mouseRelease(bar, Qt::LeftButton, {}, at);
}

QStringList answerDialogs(const std::function<void()> &action, const QStringList &buttons)
{
    QStringList texts;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || box->property("answered").toBool()) return;
        box->setProperty("answered", true);
        const QString wanted = buttons.value(int(texts.size()));
        texts << box->text();
        for (QAbstractButton *button : box->buttons()) {
            if (wanted.isEmpty() || button->text().contains(wanted)) {
                button->click();
                return;
            }
        }
    });
    poll.start();
    action();
    return texts;
}

void chooseFile(const std::function<void()> &action, const QString &name, int filter)
{
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) return;
        if (name.isEmpty()) {
            dialog->reject();
            return;
        }
        // As a person does: pick the filter entry, type the name, press the button. The
        // folder's listing arrives late on a busy machine and may select another file: press
        // only once the dialog holds the name typed, else type it again at the next pass.
        const QString typed = QFileInfo(name).fileName();
        dialog->selectNameFilter(dialog->nameFilters().at(filter));
        if (dialog->directory().absolutePath() != QFileInfo(name).absolutePath())
            dialog->setDirectory(QFileInfo(name).absolutePath());
        auto *edit = dialog->findChild<QLineEdit *>("fileNameEdit");
        if (edit && edit->text() != typed) {
            edit->setText(typed);
            return;
        }
        if (QFileInfo(dialog->selectedFiles().value(0)).fileName() != typed) return;
        QMetaObject::invokeMethod(dialog, "accept");
    });
    poll.start();
    action();
}

bool tickUntil(TMainForm &form, const std::function<bool()> &done)
{
    QElapsedTimer clock;
    for (clock.start(); clock.elapsed() < 10000; QTest::qWait(2)) {
        form.Timer1Timer();
        if (done()) return true;
    }
    return false;
}

qint64 runEventLoop(int ms, const std::function<bool()> &done)
{
    QEventLoop loop;
    QElapsedTimer clock, sinceLast;
    clock.start();
    sinceLast.start();
    qint64 longest = 0;
    QTimer pass; // a pass of the loop every millisecond, when nothing blocks it
    pass.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pass, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceLast.restart());
        if (clock.elapsed() >= ms || (done && done())) loop.quit();
    });
    pass.start(1);
    loop.exec();
    return longest;
}

std::size_t heapInUse()
{
    return mallinfo2().uordblks;
}

QString answerNextDialog(const std::function<void()> &action, const QString &buttonText)
{
    return answerDialogs(action, {buttonText}).value(0);
}

} // namespace testing
