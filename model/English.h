// The English of what the register map and the window's layout hold: captions, the names of
// groups and panels, radio buttons' captions and the words of shown values. The English
// window, zev720ctl --lang en and the venue's pages in English all read it here, so that a
// register has one English name wherever it shows. No Qt here.
#pragma once

#include <string>
#include <string_view>

namespace zev {

enum class Language { Chinese, English };

/// The English of a text of the tables ("音量" is "Volume", "模式一" "Mode 1"), or the text
/// itself where it holds no Chinese ("16KHz", "LOUD"). A Chinese text the table lacks comes
/// back as it is: the tests hold the table whole.
std::string english(std::string_view text);

/// The English of a text as it goes into a name or a line of its own ("Pre-delay"), where the
/// window's caption is broken to fit ("Pre-\ndelay").
std::string englishName(std::string_view text);

/// The text in `language`: as it is in Chinese, english() in English.
std::string inLanguage(std::string_view text, Language language);

/// True when `text` holds a Chinese (CJK) character.
bool hasChinese(std::string_view text);

/// "en" or "zh" (any case, "en_US.UTF-8" too) as a language; false for anything else.
bool parseLanguage(std::string_view text, Language &language);

} // namespace zev
