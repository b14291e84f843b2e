#include "model/Encoding.h"

namespace zev {
namespace {
constexpr int kAttenuationBottom = 88;
constexpr std::uint8_t kAttenuationBottomValue = 127;
constexpr int kEqCentre = 8; // value 8 is the unused middle of the EQ and tone encodings
} // namespace

std::uint8_t encodePosition(const RegisterRow &row, int p)
{
    int v = p;
    switch (row.encoding) {
    case Encoding::Attenuation:
        v = p == kAttenuationBottom ? kAttenuationBottomValue : p;
        break;
    case Encoding::Reversed:
        v = row.k - p;
        break;
    case Encoding::BoostEq:
        v = p <= 0 ? -p : p + kEqCentre;
        break;
    case Encoding::CutTone:
        v = p >= 0 ? p : kEqCentre - p;
        break;
    case Encoding::Switch:
    case Encoding::InvertedSwitch:
    case Encoding::Choice:
        break;
    }
    return static_cast<std::uint8_t>(v);
}

int decodePosition(const RegisterRow &row, std::uint8_t value)
{
    const int v = value;
    switch (row.encoding) {
    case Encoding::Attenuation:
        return v == kAttenuationBottomValue ? kAttenuationBottom : v;
    case Encoding::Reversed:
        return row.k - v;
    case Encoding::BoostEq:
        return v < kEqCentre ? -v : v - kEqCentre;
    case Encoding::CutTone:
        return v > kEqCentre ? kEqCentre - v : v;
    default:
        return v;
    }
}

bool decodeChecked(const RegisterRow &row, std::uint8_t value)
{
    return row.encoding == Encoding::InvertedSwitch ? value == 0 : value != 0;
}

std::string labelText(const RegisterRow &row, int position, std::uint8_t value)
{
    switch (row.form) {
    case LabelForm::Level:
        return std::to_string(kAttenuationBottom - position) + "dB";
    case LabelForm::ValueDb:
        return std::to_string(value) + "dB";
    case LabelForm::Value:
        return std::to_string(value);
    case LabelForm::None:
        break;
    }
    return {};
}

} // namespace zev
