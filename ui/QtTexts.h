// The window's language: its own texts (Qt's translation tools: tr() and the .ts files of
// translations/), the register map's and the layout's (their one English table), and Qt's own
// texts (file dialogs, standard buttons, context menus).
#pragma once

#include "model/English.h"

#include <QString>
#include <string_view>

namespace look {

/// The window's language for Qt's own texts in Chinese.
constexpr const char *kQtTextsLocale = "zh_CN";

/// Chinese unless useLanguage() chose English (--lang en, ZEV720_LANG=en): never the system's.
zev::Language windowLanguage();
/// Chooses the window's language before its windows are made: loads the window's English
/// (built into the program) or Qt's Chinese. False when a translation is missing.
bool useLanguage(zev::Language language);
/// A text of the register map or the layout (a caption, a group's name, a choice, a shown
/// value, a register's name) in the window's language.
QString said(std::string_view text);

/// Loads Qt's translation of its own texts, from "translations" beside the program (Windows
/// ships it there) or Qt's translations folder (Debian's qt6-translations-l10n); true when
/// found. Without it Qt's texts stay English and the window's own stay as they are.
bool translateQtTexts(const QString &locale = kQtTextsLocale);

} // namespace look
