// Qt's own texts (file dialogs, standard buttons, context menus) in the window's language.
#pragma once

#include <QString>

namespace look {

/// The window's language for Qt's own texts.
constexpr const char *kQtTextsLocale = "zh_CN";

/// Loads Qt's translation of its own texts, from "translations" beside the program (Windows
/// ships it there) or Qt's translations folder (Debian's qt6-translations-l10n); true when
/// found. Without it Qt's texts stay English and the window's own stay as they are.
bool translateQtTexts(const QString &locale = kQtTextsLocale);

} // namespace look
