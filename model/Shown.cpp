#include "model/Shown.h"

#include "model/Encoding.h"

#include <array>
#include <map>
#include <string_view>

namespace zev {
namespace {

struct GroupName {
    std::uint8_t address;
    const char *name;
};
constexpr GroupName kRadioGroups[] = {
    {18, "MusicInputRadioGroup"}, {23, "MusicEQModeRadioGroup"}, {36, "MicEQModeRadioGroup"},
    {44, "FBXRadioGroup"},        {49, "DSPModeRadioGroup"},
};

std::vector<std::string> decibelScale(int top)
{
    std::vector<std::string> captions;
    for (int db = top; db >= -top; --db)
        captions.push_back((db > 0 ? "+" : "") + std::to_string(db) + "dB");
    return captions;
}

const std::map<std::uint8_t, std::vector<std::string>> &scales()
{
    static const std::map<std::uint8_t, std::vector<std::string>> byAddress = [] {
        std::map<std::uint8_t, std::vector<std::string>> m;
        for (int a : {24, 25, 26, 27, 28, 29, 30, 37, 38, 39, 40, 41, 42, 43, 65, 66, 67, 68, 69})
            m[std::uint8_t(a)] = decibelScale(6);
        m[21] = {"#4", "#3", "#2", "#1", "0", "b1", "b2", "b3", "b4"};
        m[35] = {"100Hz", "50Hz", "20Hz", "10Hz"};
        m[87] = {"275Hz", "250Hz", "225Hz", "200Hz", "175Hz", "150Hz", "125Hz", "100Hz"};
        m[82] = m[83] = decibelScale(7);
        return m;
    }();
    return byAddress;
}

} // namespace

std::string machineName(const RegisterRow &row)
{
    if (row.control) return row.control;
    for (const GroupName &group : kRadioGroups)
        if (group.address == row.address) return group.name;
    return "Register" + std::to_string(row.address);
}

const RegisterRow *findRegisterByName(const std::string &name)
{
    for (const RegisterRow &row : registerMap())
        if (machineName(row) == name) return &row;
    return nullptr;
}

const std::vector<std::string> &scaleOf(std::uint8_t address)
{
    static const std::vector<std::string> none;
    const auto it = scales().find(address);
    return it == scales().end() ? none : it->second;
}

std::string shownValue(const RegisterRow &row, std::uint8_t value)
{
    const std::string unknown = "? " + std::to_string(value);
    switch (controlKind(row)) {
    case ControlKind::TrackBar: {
        const int position = decodePosition(row, value);
        if (position < row.min || position > row.max) return unknown;
        if (row.label) return labelText(row, position, value);
        const std::vector<std::string> &scale = scaleOf(row.address);
        if (scale.size() == std::size_t(row.max - row.min + 1)) return scale[position - row.min];
        return std::to_string(position);
    }
    case ControlKind::CheckBox:
        if (value != 0 && value != 255) return unknown;
        return decodeChecked(row, value) ? "开" : "关";
    case ControlKind::Radio:
    case ControlKind::Mode:
        for (const Choice &choice : row.choices)
            if (choice.value == value) return choice.caption;
        if (row.address == kDspModeRegister && value >= kFirstFixedDspMode &&
            value <= kLastFixedDspMode)
            return "固定模式 P" + std::to_string(value);
        return unknown;
    }
    return unknown;
}

std::optional<std::uint8_t> valueShowing(const RegisterRow &row, const std::string &text)
{
    for (int value = 0; value < 256; ++value)
        if (shownValue(row, std::uint8_t(value)) == text && text.rfind("? ", 0) != 0)
            return std::uint8_t(value);
    return std::nullopt;
}

bool controlShows(const RegisterRow &row, std::uint8_t value)
{
    return shownValue(row, value).rfind("? ", 0) != 0;
}

std::optional<UnshownValue> firstUnshownValue(const ParameterModel &model)
{
    const auto problem = [](const std::string &where, const RegisterRow &row, std::uint8_t value) {
        const std::string name = machineName(row);
        return UnshownValue{where + name, where + name + ": value " + std::to_string(value) +
                                              " is no value that this control shows"};
    };
    for (const RegisterRow &row : registerMap())
        if (!controlShows(row, model.image[row.address])) return problem({}, row, model.image[row.address]);
    // The slot of each mode with a button of its own holds the block that choosing the mode
    // brings back; a fixed DSP mode brings back nothing.
    for (const RegisterRow &mode : registerMap()) {
        if (controlKind(mode) != ControlKind::Mode) continue;
        for (const Choice &choice : mode.choices) {
            if (choice.value >= kSlotCount) continue;
            for (int address = mode.blockFirst; address <= mode.blockLast; ++address) {
                const RegisterRow &row = *findRegister(std::uint8_t(address));
                const std::uint8_t value = model.modeSlots[choice.value][std::size_t(address)];
                if (!controlShows(row, value))
                    return problem("slot " + std::to_string(choice.value) + ": ", row, value);
            }
        }
    }
    return std::nullopt;
}

} // namespace zev

namespace zev {

std::optional<double> numberShown(const std::string &text)
{
    std::size_t at = 0;
    double sign = 1;
    if (at < text.size() && (text[at] == 'b' || text[at] == '-')) {
        sign = -1;
        ++at;
    } else if (at < text.size() && (text[at] == '#' || text[at] == '+')) {
        ++at;
    }
    const std::size_t digits = at;
    double number = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9')
        number = number * 10 + (text[at++] - '0');
    if (at == digits) return std::nullopt;
    if (at + 1 < text.size() && text[at] == '.' && text[at + 1] >= '0' && text[at + 1] <= '9') {
        double scale = 0.1;
        for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, scale /= 10)
            number += (text[at] - '0') * scale;
    }
    const std::string_view unit = std::string_view(text).substr(at);
    if (unit == "KHz") number *= 1000;
    else if (!unit.empty() && unit != "dB" && unit != "Hz") return std::nullopt;
    return sign * number;
}

} // namespace zev
