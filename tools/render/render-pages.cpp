// Renders each page of the main window to a PNG without a display, for reviewing the layout.
//   zev720-render-pages [OUTPUT_DIR]   writes page-1.png, page-2.png, page-3.png
//   ZEV720_LANG=en zev720-render-pages  the same in English
#include "ui/Main.h"
#include "ui/QtTexts.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char *argv[])
{
    // Without a display: a headless screen of a desktop's size, so the window is drawn whole.
    QTemporaryDir screens;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        const QString config = screens.filePath("screen.json");
        QFile file(config);
        if (file.open(QIODevice::WriteOnly))
            file.write(R"({"screens": [{"name": "desktop", "x": 0, "y": 0, "width": 1920,)"
                       R"( "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
        qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).toLocal8Bit());
    }
    QApplication app(argc, argv);
    // The window's language as the panel takes it from ZEV720_LANG (English pages: ZEV720_LANG=en).
    zev::Language language = zev::Language::Chinese;
    zev::parseLanguage(qEnvironmentVariable("ZEV720_LANG").toStdString(), language);
    look::useLanguage(language);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(dir);
    TMainForm window;
    window.show();
    for (int page = 0; page < window.pages()->count(); ++page) {
        window.pages()->setCurrentIndex(page);
        app.processEvents();
        const QString path = QDir(dir).filePath(QString("page-%1.png").arg(page + 1));
        if (!window.grab().save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return 0;
}
