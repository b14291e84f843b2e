#include "ui/QtTexts.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <memory>

namespace look {

bool translateQtTexts(const QString &locale)
{
    static QTranslator *translator = nullptr;
    if (translator) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
        translator = nullptr;
    }
    auto loaded = std::make_unique<QTranslator>();
    for (const QString &folder : {QCoreApplication::applicationDirPath() + "/translations",
                                  QLibraryInfo::path(QLibraryInfo::TranslationsPath)}) {
        if (!loaded->load("qtbase_" + locale, folder)) continue;
        translator = loaded.release();
        QCoreApplication::installTranslator(translator);
        return true;
    }
    return false;
}

} // namespace look
