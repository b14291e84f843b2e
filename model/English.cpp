#include "model/English.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace zev {
namespace {

// Every Chinese text of the register map and the layout, and the words of shown values. Where
// the window's column is narrow, "caption|name": the caption as the window shows it, broken,
// then the words of its name.
constexpr std::pair<std::string_view, std::string_view> kEnglish[] = {
    // Pages, groups and panels.
    {"音乐调整", "Music"},
    {"音乐输入", "Music input"},
    {"变调", "Key shift"},
    {"中置调整", "Centre"},
    {"低音调整", "Subwoofer"},
    {"话筒调整", "Microphone"},
    {"啸叫抑制模式", "Feedback suppression"},
    {"话筒EQ模式", "Microphone EQ mode"},
    {"效果调整", "Effects"},
    {"合唱", "Chorus"},
    {"DSP模式", "DSP mode"},
    {"回声", "Echo"},
    {"混响", "Reverb"},
    {"颤音", "Tremolo"},
    // Captions of bars and check boxes.
    {"音量", "Volume"},
    {"最大音量", "Maximum volume"},
    {"音乐EQ模式", "Music EQ mode"},
    {"ALC 音乐电平", "ALC music level"},
    {"话筒低切频点", "Low cut"},
    {"开启压限功能", "Limiter on"},
    {"效果音量", "Volume"},
    {"幅度", "Level"},
    {"R延时", "R delay"},
    {"L延时", "L delay"},
    {"重复", "Repeat"},
    {"反馈", "Feed-\nback|Feedback"},
    {"空间\n宽度", "Room\nwidth"},
    {"湿度", "Wet"},
    {"空间", "Room\nsize|Room size"},
    {"预延时", "Pre-\ndelay|Pre-delay"},
    {"合唱幅度", "Chorus level"},
    {"延时", "Delay"},
    {"级数", "Stages"},
    {"颤音幅度", "Tremolo depth"},
    {"颤音频率", "Tremolo rate"},
    {"音乐音量", "Music\nvolume|Music volume"},
    {"话筒音量", "Microphone\nvolume|Microphone volume"},
    {"高音", "Treble"},
    {"低音", "Bass"},
    {"低音音量", "Bass volume"},
    {"话筒开启\n低音音量", "Microphone\nbass volume"},
    {"低通频点", "Low-pass point"},
    // Radio buttons.
    {"音乐输入BGM", "Music input BGM"},
    {"音乐输入VOD", "Music input VOD"},
    {"OPT光钎输入", "OPT optical input"},
    {"音乐EQ模式一", "Music EQ mode 1"},
    {"音乐EQ模式二", "Music EQ mode 2"},
    {"音乐EQ模式三", "Music EQ mode 3"},
    {"音乐EQ模式四", "Music EQ mode 4"},
    {"话筒EQ模式一", "Microphone EQ mode 1"},
    {"话筒EQ模式二", "Microphone EQ mode 2"},
    {"话筒EQ模式三", "Microphone EQ mode 3"},
    {"话筒EQ模式四", "Microphone EQ mode 4"},
    {"模式一", "Mode 1"},
    {"模式二", "Mode 2"},
    {"模式三", "Mode 3"},
    {"模式四", "Mode 4"},
    {"DSP模式K1", "DSP mode K1"},
    {"DSP模式K2", "DSP mode K2"},
    {"DSP模式K3", "DSP mode K3"},
    {"DSP模式K4", "DSP mode K4"},
    // Words of shown values.
    {"开", "on"},
    {"关", "off"},
    {"固定模式", "Fixed mode"},
};

} // namespace

bool hasChinese(std::string_view text)
{
    // Three-byte UTF-8 sequences of U+2E80..U+9FFF (CJK, its punctuation included) and
    // U+F900..U+FFEF (compatibility ideographs, full-width forms).
    for (std::size_t i = 0; i + 2 < text.size(); ++i) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if ((lead & 0xF0) != 0xE0) continue;
        const unsigned point = (lead & 0x0Fu) << 12 |
                               (static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6 |
                               (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
        if ((point >= 0x2E80 && point <= 0x9FFF) || (point >= 0xF900 && point <= 0xFFEF))
            return true;
    }
    return false;
}

std::string english(std::string_view text)
{
    for (const auto &[chinese, english] : kEnglish)
        if (chinese == text) return std::string(english.substr(0, english.find('|')));
    // A shown value of a fixed DSP mode: "固定模式 P7".
    constexpr std::string_view kFixed = "固定模式 ";
    if (text.substr(0, kFixed.size()) == kFixed)
        return "Fixed mode " + std::string(text.substr(kFixed.size()));
    return std::string(text);
}

std::string englishName(std::string_view text)
{
    for (const auto &[chinese, english] : kEnglish)
        if (chinese == text) {
            const auto bar = english.find('|');
            std::string name(bar == std::string_view::npos ? english : english.substr(bar + 1));
            for (char &c : name)
                if (c == '\n') c = ' ';
            return name;
        }
    std::string name = english(text);
    for (char &c : name)
        if (c == '\n') c = ' ';
    return name;
}

std::string inLanguage(std::string_view text, Language language)
{
    return language == Language::English ? english(text) : std::string(text);
}

bool parseLanguage(std::string_view text, Language &language)
{
    std::string code(text.substr(0, 2));
    std::transform(code.begin(), code.end(), code.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    const bool whole = text.size() == 2 || (text.size() > 2 && (text[2] == '_' || text[2] == '-' || text[2] == '.'));
    if (!whole) return false;
    if (code == "en") language = Language::English;
    else if (code == "zh") language = Language::Chinese;
    else return false;
    return true;
}

} // namespace zev
