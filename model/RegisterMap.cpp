#include "model/RegisterMap.h"

#include <algorithm>
#include <array>

namespace zev {
namespace {

constexpr Choice kMusicInput[] = {
    {"MusicInputBGMRadioButton", "音乐输入BGM", 1},
    {"MusicInputVODRadioButton", "音乐输入VOD", 2},
    {"MusicInputAUTORadioButton", "OPT光钎输入", 3},
};
constexpr Choice kMusicEqModes[] = {
    {"MusicEQMode1RadioButton", "音乐EQ模式一", 0},
    {"MusicEQMode2RadioButton", "音乐EQ模式二", 4},
    {"MusicEQMode3RadioButton", "音乐EQ模式三", 8},
    {"MusicEQMode4RadioButton", "音乐EQ模式四", 12},
};
constexpr Choice kMicEqModes[] = {
    {"MicEQMode1RadioButton", "话筒EQ模式一", 0},
    {"MicEQMode2RadioButton", "话筒EQ模式二", 4},
    {"MicEQMode3RadioButton", "话筒EQ模式三", 8},
    {"MicEQMode4RadioButton", "话筒EQ模式四", 12},
};
constexpr Choice kFeedbackModes[] = {
    {"FBX1RadioButton", "模式一", 1},
    {"FBX2RadioButton", "模式二", 2},
    {"FBX3RadioButton", "模式三", 3},
    {"FBX4RadioButton", "模式四", 4},
};
// The fixed modes 5 to 20 have no button of their own: the main window adds "固定模式".
constexpr Choice kDspModes[] = {
    {"DSPMode1RadioButton", "DSP模式K1", 1},
    {"DSPMode2RadioButton", "DSP模式K2", 2},
    {"DSPMode3RadioButton", "DSP模式K3", 3},
    {"DSPMode4RadioButton", "DSP模式K4", 4},
};

using E = Encoding;
using L = LabelForm;

// The table reads best one register a line: no reformatting from here to its end.
// clang-format off

// Shorthands for the rows that repeat a pattern.
constexpr RegisterRow volume(std::uint8_t a, const char *bar, const char *caption, const char *label,
                             std::uint8_t factory)
{
    return {a, bar, caption, E::Attenuation, 0, 0, 88, 87, false, label, L::Level, "0dB", factory, {}};
}
constexpr RegisterRow eq7(std::uint8_t a, const char *bar, const char *caption)
{
    return {a, bar, caption, E::BoostEq, 0, -6, 6, 0, true, nullptr, L::None, nullptr, 0, {}};
}
constexpr RegisterRow eq5(std::uint8_t a, const char *bar, const char *caption)
{
    return {a, bar, caption, E::Reversed, 12, 0, 12, 6, true, nullptr, L::None, nullptr, 6, {}};
}
// An effect bar: reversed with constant k, starting at its bottom, with a plain value label.
constexpr RegisterRow effect(std::uint8_t a, const char *bar, const char *caption, int k, int min,
                             int max, const char *label, std::uint8_t factory)
{
    return {a,     bar,     caption,  E::Reversed, k, min, max, max, false,
            label, L::Value, min == 0 ? "0" : "1", factory, {}};
}

constexpr RegisterRow kRows[] = {
    volume(16, "MusicVolumeTrackBar", "音量", "MusicVolumeLabel", 20),
    volume(17, "MusicMaxVolumeTrackBar", "最大音量", "MusicMaxVolumeLabel", 0),
    {18, nullptr, "音乐输入", E::Choice, 0, 0, 0, 3, false, nullptr, L::None, nullptr, 2, kMusicInput},
    {21, "MusicKeyTrackBar", "变调", E::Reversed, 10, 1, 9, 5, true, nullptr, L::None, nullptr, 5, {}},
    {22, "MuteCheckBox", "LOUD", E::Switch, 0, 0, 0, 0, false, nullptr, L::None, nullptr, 0, {}},
    {23, nullptr, "音乐EQ模式", E::Choice, 0, 0, 0, 0, false, nullptr, L::None, nullptr, 0,
     kMusicEqModes, 24, 30},
    eq7(24, "Music7EQ16KTrackBar", "16KHz"),
    eq7(25, "Music7EQ6_3KTrackBar", "6.3KHz"),
    eq7(26, "Music7EQ2_2KTrackBar", "2.2KHz"),
    eq7(27, "Music7EQ1KTrackBar", "1KHz"),
    eq7(28, "Music7EQ400TrackBar", "400Hz"),
    eq7(29, "Music7EQ134TrackBar", "134Hz"),
    eq7(30, "Music7EQ57TrackBar", "57Hz"),
    volume(32, "MicVolumeTrackBar", "音量", "MicVolumeLabel", 13),
    volume(33, "MicMaxVolumeTrackBar", "最大音量", "MicMaxVolumeLabel", 0),
    {34, "MicExciteCheckBox", "ALC 音乐电平", E::InvertedSwitch, 0, 0, 0, 0, false, nullptr,
     L::None, nullptr, 0, {}},
    {35, "LowcutFRETrackBar", "话筒低切频点", E::Reversed, 5, 1, 4, 4, true, nullptr, L::None,
     nullptr, 3, {}},
    {36, nullptr, "话筒EQ模式", E::Choice, 0, 0, 0, 0, false, nullptr, L::None, nullptr, 0,
     kMicEqModes, 37, 43},
    eq7(37, "Mic7EQ16KTrackBar", "16KHz"),
    eq7(38, "Mic7EQ6_3KTrackBar", "6.3KHz"),
    eq7(39, "Mic7EQ2_2KTrackBar", "2.2KHz"),
    eq7(40, "Mic7EQ1KTrackBar", "1KHz"),
    eq7(41, "Mic7EQ400TrackBar", "400Hz"),
    eq7(42, "Mic7EQ134TrackBar", "134Hz"),
    eq7(43, "Mic7EQ57TrackBar", "57Hz"),
    {44, nullptr, "啸叫抑制模式", E::Choice, 0, 0, 0, 1, false, nullptr, L::None, nullptr, 1,
     kFeedbackModes},
    {45, "CompressCheckBox", "开启压限功能", E::Switch, 0, 0, 0, 0, false, nullptr, L::None,
     nullptr, 0, {}},
    {48, "EffectVolumeTrackBar", "效果音量", E::Reversed, 32, 0, 32, 32, false,
     "EffectVolumeLabel", L::ValueDb, "0dB", 17, {}},
    {49, nullptr, "DSP模式", E::Choice, 0, 0, 0, 2, false, nullptr, L::None, nullptr, 2, kDspModes,
     50, 59},
    effect(50, "EchoLevelTrackBar", "幅度", 50, 0, 50, "EchoLevelLabel", 34),
    effect(51, "EchoRDelayTrackBar", "R延时", 70, 0, 70, "EchoRDelayLabel", 16),
    effect(52, "EchoLDelayTrackBar", "L延时", 70, 0, 70, "EchoLDelayLabel", 22),
    effect(53, "EchoRepeatTrackBar", "重复", 27, 0, 27, "EchoRepeatLabel", 20),
    effect(54, "ReverbLevelTrackBar", "幅度", 80, 0, 80, "ReverbLevelLabel", 40),
    effect(55, "ReverbRepeatTrackBar", "反馈", 50, 0, 50, "ReverbRepeatLabel", 0),
    effect(56, "ReverbBwidthTrackBar", "空间\n宽度", 32, 1, 31, "ReverbBwidthLabel", 30),
    effect(57, "ReverbDampTrackBar", "湿度", 32, 1, 31, "ReverbDampLabel", 30),
    effect(58, "ReverbDecayTrackBar", "空间", 30, 1, 29, "ReverbDecayLabel", 26),
    effect(59, "ReverbPredelayTrackBar", "预延时", 19, 1, 18, "ReverbPredelayLabel", 10),
    effect(60, "ChorusLevelTrackBar", "合唱幅度", 60, 0, 60, "ChorusLevelLabel", 0),
    effect(61, "ChorusDelayTrackBar", "延时", 80, 0, 80, "ChorusDelayLabel", 60),
    effect(62, "ChorusStepTrackBar", "级数", 81, 1, 80, "ChorusStepLabel", 8),
    effect(63, "TremoloLevelTrackBar", "颤音幅度", 60, 0, 60, "TremoloLevelLabel", 0),
    effect(64, "TremoloFRETrackBar", "颤音频率", 81, 1, 80, "TremoloFRELabel", 29),
    eq5(65, "Eff5EQ10KTrackBar", "10KHz"),
    eq5(66, "Eff5EQ4KTrackBar", "4KHz"),
    eq5(67, "Eff5EQ1KTrackBar", "1KHz"),
    eq5(68, "Eff5EQ500TrackBar", "500Hz"),
    eq5(69, "Eff5EQ100TrackBar", "100Hz"),
    volume(80, "CenMusicVolumeTrackBar", "音乐音量", "CenMusicVolumeLabel", 8),
    volume(81, "CenMicVolumeTrackBar", "话筒音量", "CenMicVolumeLabel", 6),
    {82, "CenTrebleTrackBar", "高音", E::CutTone, 0, -7, 7, 0, true, nullptr, L::None, nullptr, 0,
     {}},
    {83, "CenBassTrackBar", "低音", E::CutTone, 0, -7, 7, 0, true, nullptr, L::None, nullptr, 0,
     {}},
    volume(85, "SWVolumeTrackBar", "低音音量", "SWVolumeLabel", 0),
    volume(86, "SWMicVolumeTrackBar", "话筒开启\n低音音量", "SWMicVolumeLabel", 19),
    {87, "SWFRETrackBar", "低通频点", E::Reversed, 9, 1, 8, 8, true, nullptr, L::None, nullptr, 3,
     {}},
};
// clang-format on
static_assert(std::size(kRows) == kTransferSetSize);

constexpr bool ascending()
{
    for (std::size_t i = 1; i < std::size(kRows); ++i)
        if (kRows[i - 1].address >= kRows[i].address) return false;
    return true;
}
static_assert(ascending(), "rows are looked up by address and listed in transfer order");

constexpr DspPreset kDspPresets[] = {
    {1, {36, 20, 17, 19, 60, 0, 30, 29, 26, 10}},
    {2, {34, 16, 22, 20, 40, 0, 30, 30, 26, 10}},
    {3, {32, 18, 15, 15, 40, 0, 30, 29, 25, 10}},
    {4, {48, 16, 19, 6, 60, 0, 30, 30, 26, 10}},
};

// Address to row index, built once from the table.
struct Index {
    std::array<const RegisterRow *, 256> rows{};
    constexpr Index()
    {
        for (const RegisterRow &row : kRows)
            rows[row.address] = &row;
    }
};
constexpr Index kIndex;

} // namespace

std::span<const RegisterRow> registerMap()
{
    return kRows;
}

const RegisterRow *findRegister(std::uint8_t address)
{
    return kIndex.rows[address];
}

ControlKind controlKind(const RegisterRow &row)
{
    switch (row.encoding) {
    case Encoding::Switch:
    case Encoding::InvertedSwitch:
        return ControlKind::CheckBox;
    case Encoding::Choice:
        return row.blockFirst != 0 ? ControlKind::Mode : ControlKind::Radio;
    default:
        return ControlKind::TrackBar;
    }
}

std::span<const DspPreset> dspPresets()
{
    return kDspPresets;
}

} // namespace zev
