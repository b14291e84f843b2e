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

namespace {
zev::Language current = zev::Language::Chinese;
} // namespace

zev::Language windowLanguage()
{
    return current;
}

bool useLanguage(zev::Language language)
{
    current = language;
    static QTranslator *window = nullptr;
    if (window) {
        QCoreApplication::removeTranslator(window);
        delete window;
        window = nullptr;
    }
    if (language == zev::Language::Chinese) return translateQtTexts();
    translateQtTexts("en"); // none: Qt's own texts are English
    auto loaded = std::make_unique<QTranslator>();
    if (!loaded->load(":/i18n/zev720_en.qm")) return false;
    window = loaded.release();
    QCoreApplication::installTranslator(window);
    return true;
}

QString said(std::string_view text)
{
    return QString::fromStdString(zev::inLanguage(text, current));
}

} // namespace look
