// The ZEV720 control panel. It takes no command-line arguments.
#include "ui/Main.h"
#include "app/ErrorBox.h"
#include "app/SessionEnd.h"
#include "settings/Paramete.h"
#include "ui/Look.h"
#include "ui/Progress.h"

#include <QApplication>
#include <cstdio>
#include <ctime>

namespace {

// The last line of defence: nothing thrown by a handler crosses the event loop.
class Application : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override
    {
        bool handled = false;
        guarded([&] { handled = QApplication::notify(receiver, event); });
        return handled;
    }
};

// With ZEV720_STARTUP_REPORT set, the monotonic time of the window's first frame goes to
// standard error, for the start-up benchmark.
class FirstFrameReport : public QObject {
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            std::fprintf(stderr, "first frame %.6f\n",
                         double(now.tv_sec) + double(now.tv_nsec) * 1e-9);
            std::fflush(stderr);
            watched->removeEventFilter(this);
        }
        return false;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    Application app(argc, argv);
    QApplication::setApplicationName("zev720");
    QApplication::setApplicationDisplayName("DSP C-Ver6.0");
    // One typeface for every window: the dialogs then need no second CJK font loaded.
    QFont font = QApplication::font();
    font.setFamilies(look::typefaces());
    QApplication::setFont(font);
    try {
        MainForm = new TMainForm;
        ProgressForm = new TProgressForm;
        ParaForm = new TParaForm;
    } catch (const std::exception &error) { // out of memory for the channel, say
        showErrorBox(QString::fromUtf8(error.what()));
        return 1;
    }
    closeOnSessionEnd(MainForm);
    QObject::connect(MainForm, &TMainForm::closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    FirstFrameReport report;
    if (qEnvironmentVariableIsSet("ZEV720_STARTUP_REPORT")) MainForm->installEventFilter(&report);
    MainForm->show();
    const int result = QApplication::exec();
    delete ParaForm;
    delete ProgressForm;
    delete MainForm;
    return result;
}
