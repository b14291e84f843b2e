// The ZEV720 control panel. It works in the current folder ("ZEV720.cfg",
// "ZEV720Default.dat"); its only arguments are --version and --help.
#include "ui/Main.h"
#include "app/Platform.h"
#include "app/SessionEnd.h"
#include "link/EndSignals.h"
#include "ui/ErrorBox.h"
#include "ui/Look.h"
#include "ui/PortDialog.h"
#include "ui/QtTexts.h"
#include "ui/Progress.h"
#include "ui/Widgets.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QLabel>
#include <QScreen>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// Where each named, shown widget of the window stands ("geometry NAME X Y W H", in the
// window's client area), and whether a text is cut ("cut" when a label is less tall or wide
// than its text needs): the same on every system, which the Windows tests compare with Linux.
void reportGeometry(QWidget *window)
{
    QStringList lines;
    for (const QWidget *widget : window->findChildren<QWidget *>()) {
        const auto *text = qobject_cast<const QLabel *>(widget);
        // A label without a name of its own (a scale's "10Hz") by its text in its parent's.
        QString name = widget->objectName();
        if (name.isEmpty() && text && !text->text().isEmpty() && widget->parentWidget())
            name = widget->parentWidget()->objectName() + "/" + text->text();
        if (name.isEmpty() || !widget->isVisible()) continue;
        const QRect at(widget->mapTo(window, QPoint(0, 0)), widget->size());
        QString line = QString("geometry %1 %2 %3 %4 %5")
                           .arg(name.simplified().replace(' ', '_'))
                           .arg(at.x())
                           .arg(at.y())
                           .arg(at.width())
                           .arg(at.height());
        if (text && !text->wordWrap() && !text->text().isEmpty()) {
            const QSize needs = text->sizeHint();
            if (needs.height() > at.height() || needs.width() > at.width()) line += " cut";
        }
        lines << line;
    }
    // A scale's captions, drawn level with its bar: the first and the last whole inside it.
    for (const ScaleWidget *scale : window->findChildren<ScaleWidget *>()) {
        const QList<QRect> captions = scale->captionRects();
        if (!scale->isVisible() || captions.isEmpty()) continue;
        const QRect inside = scale->rect();
        const bool whole = inside.contains(captions.first()) && inside.contains(captions.last());
        lines << QString("scale %1/%2 %3").arg(scale->parentWidget()->objectName(),
                                               scale->captions().first(),
                                               whole ? "whole" : "cut");
    }
    lines.sort();
    const QRect screen = window->screen()->availableGeometry();
    lines.prepend(QString("window %1 %2").arg(window->width()).arg(window->height()));
    lines.prepend(QString("screen %1 %2").arg(screen.width()).arg(screen.height()));
    std::fputs(qPrintable(lines.join('\n') + '\n'), stderr);
    std::fflush(stderr);
}

// With ZEV720_STARTUP_REPORT set, the monotonic time of the window's first frame goes to
// standard error, for the start-up benchmark; with ZEV720_GEOMETRY_REPORT too, the window's
// geometry after it.
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
            if (qEnvironmentVariableIsSet("ZEV720_GEOMETRY_REPORT"))
                reportGeometry(static_cast<QWidget *>(watched));
            watched->removeEventFilter(this);
        }
        return false;
    }
};

constexpr const char *kUsageStart =
    "Usage: zev720 [--menu] [--lang en|zh] | --version | --help\n"
    "\n"
    "The ZEV720 control panel: tunes a ZEV720 karaoke processor over a serial line.\n"
    "It works in the current folder: the port settings are kept in ZEV720.cfg and the last\n"
    "settings in ZEV720Default.dat. Port n is the line in ZEV720_COM<n> when that is set,\n"
    "otherwise the line that ZEV720.ports in the same folder gives it (\"n = line\" a line),\n";
constexpr const char *kUsageOptions =
    "\n"
    "  --menu     work in the folder of a start from the desktop's menu, made on first start\n"
    "  --lang en  the window in English (also ZEV720_LANG=en); Chinese otherwise, whatever\n"
    "             the system's language\n"
    "  --version  print the version and exit\n"
    "  --help     print this text and exit\n";

void printUsage(std::FILE *to)
{
    std::fputs(kUsageStart, to);
    std::fputs(portsHelp(), to);
    std::fputs(kUsageOptions, to);
}

// Answers --version and --help without a window, enters the menu's folder for --menu; any
// other argument is refused. -1: go on.
int answerArguments(int argc, char *argv[], QString &movedTo, zev::Language &language)
{
    // Qt's own options (-platform NAME, -display NAME, ...) pass on to the application object.
    QStringList words{"zev720"};
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-' && argv[i][1] != '-' && argv[i][1] != '\0') {
            if (i + 1 < argc && argv[i + 1][0] != '-') ++i;
            continue;
        }
        words << QString::fromLocal8Bit(argv[i]);
    }
    QCommandLineParser parser;
    const QCommandLineOption menuOption("menu"), langOption("lang", {}, "en|zh"),
        versionOption("version"), helpOption("help");
    parser.addOptions({menuOption, langOption, versionOption, helpOption});
    const auto refuse = [](const QString &word) {
        std::fprintf(stderr, "zev720: unknown argument '%s'\n", word.toLocal8Bit().constData());
        printUsage(stderr);
        return 2;
    };
    if (!parser.parse(words)) {
        if (parser.unknownOptionNames().isEmpty()) { // --lang without its value
            std::fprintf(stderr, "zev720: --lang takes en or zh\n");
            return 2;
        }
        const QString name = parser.unknownOptionNames().first();
        const auto it = std::find_if(words.begin(), words.end(), [&](const QString &word) {
            return word == "--" + name || word.startsWith("--" + name + "=");
        });
        return refuse(it == words.end() ? "--" + name : *it);
    }
    if (!parser.positionalArguments().isEmpty()) return refuse(parser.positionalArguments().first());
    for (const QString &text : parser.values(langOption))
        if (!zev::parseLanguage(text.toStdString(), language)) {
            std::fprintf(stderr, "zev720: --lang takes en or zh\n");
            return 2;
        }
    if (parser.isSet(versionOption)) {
        std::printf("zev720 %s\n%s\n", ZEV720_VERSION, ZEV720_NOTICE);
        return 0;
    }
    if (parser.isSet(helpOption)) {
        printUsage(stdout);
        return 0;
    }
    const bool menu = parser.isSet(menuOption);
    std::string error;
    if (menu) {
        if (enterMenuFolder(error)) return -1;
        std::fprintf(stderr, "zev720: %s\n", error.c_str());
        return 1;
    }
    // Started with no folder of its own (a double-click): where it cannot or should not write,
    // it works where the menu's entry works, and says so once the window is up.
    if (!workingFolderUnfit()) return -1;
    if (!enterMenuFolder(error)) {
        std::fprintf(stderr, "zev720: %s\n", error.c_str());
        return 1;
    }
    movedTo = QDir::toNativeSeparators(QDir::currentPath());
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QString movedTo;
    // Chinese, the window's own, whatever the system's language; English when asked for.
    zev::Language language = zev::Language::Chinese;
    if (const char *chosen = std::getenv("ZEV720_LANG")) zev::parseLanguage(chosen, language);
    if (const int answered = answerArguments(argc, argv, movedTo, language); answered >= 0)
        return answered;
    Application app(argc, argv);
    QApplication::setApplicationName("zev720");
    QApplication::setApplicationDisplayName("DSP C-Ver6.0");
    // One typeface for every window: the dialogs then need no second CJK font loaded.
    QFont font = QApplication::font();
    font.setFamilies(look::typefaces());
    QApplication::setFont(font);
    if (!look::useLanguage(language)) std::fprintf(stderr, "zev720: no translation for --lang\n");
    // From the start: a signal that comes while a box of the start-up waits is answered too.
    closeOnSessionEnd([] {
        if (MainForm) MainForm->close();
    });
    try {
        MainForm = new TMainForm;
        ProgressForm = new TProgressForm;
        ParaForm = new TParaForm;
    } catch (const std::exception &error) { // out of memory for the channel, say
        showErrorBox(QString::fromUtf8(error.what()));
        return 1;
    }
    QObject::connect(MainForm, &TMainForm::closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    // Closed: released and saved. A logoff waiting on that is answered at once.
    QObject::connect(MainForm, &TMainForm::closed, &app, [] { zev::endWorkDone(); });
    if (!movedTo.isEmpty()) // after the start-up's own words, which stay in front
        MainForm->ShowHelpText(MainForm->statusPanel(3)->text() +
                               QCoreApplication::translate("main", "（工作文件夹：%1）").arg(movedTo));
    FirstFrameReport report;
    if (qEnvironmentVariableIsSet("ZEV720_STARTUP_REPORT")) MainForm->installEventFilter(&report);
    if (isSessionEnding()) { // it came while the window was being built: close from the loop
        QMetaObject::invokeMethod(MainForm, &QWidget::close, Qt::QueuedConnection);
    } else {
        MainForm->show();
    }
    int result = QApplication::exec();
    if (MainForm->exitSaveFailed() && result == 0) result = 1; // reported already
    delete ParaForm;
    delete ProgressForm;
    delete MainForm;
    return result;
}
