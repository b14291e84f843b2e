// The edit path: a control's position into the register image, and the handlers of the
// parameter controls that feed it.
#include "model/EditRules.h"
#include "model/Encoding.h"
#include "ui/Main.h"

#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <algorithm>

using namespace zev;

namespace {
constexpr std::uint8_t kMusicVolume = 16, kMusicMaxVolume = 17;
constexpr std::uint8_t kMicVolume = 32, kMicMaxVolume = 33;
constexpr std::uint8_t kBassVolume = 85, kBassMicVolume = 86;
} // namespace

bool TMainForm::SetRegisterFromControl(std::uint8_t address, int position)
{
    const EditOutcome out = m_model.edit(address, position);
    if (!out.row) return false;
    if (m_valueLabels[address]) showValue(address, QString::fromStdString(out.label));
    if (!out.stored) return false;
    if (out.marked) markLockStateChanged();
    emit registerEdited(address, m_model.image[address]);
    return true;
}

void TMainForm::trackBarChange(std::uint8_t address)
{
    switch (address) {
    case kMusicVolume:
        return MusicVolumeTrackBarChange();
    case kMusicMaxVolume:
        return MusicMaxVolumeTrackBarChange();
    case kMicVolume:
        return MicVolumeTrackBarChange();
    case kMicMaxVolume:
        return MicMaxVolumeTrackBarChange();
    case kBassVolume:
        return SWVolumeTrackBarChange();
    case kBassMicVolume:
        return SWMicVolumeTrackBarChange();
    default:
        if (m_model.refreshing) return;
        SetRegisterFromControl(address, m_bars[address]->value());
    }
}

// The coupled pairs: a volume bar never stands above (at a smaller position than) its
// maximum bar, and moving the maximum below the volume drags the volume along first; the mic-on
// bass bar never stands above the bass bar, which drags it along after. The rules are the
// venue server's too (applyEdit); the bars show what they give.
void TMainForm::coupledBarChange(std::uint8_t address)
{
    if (m_model.refreshing) return;
    ParameterModel work;
    work.image = m_model.image;
    std::vector<std::uint8_t> moved =
        applyEdit(work, address, encodePosition(*findRegister(address), m_bars[address]->value()));
    if (std::find(moved.begin(), moved.end(), address) == moved.end()) moved.insert(moved.begin(), address);
    for (const std::uint8_t each : moved) {
        const RegisterRow &row = *findRegister(each);
        const int position = std::clamp(decodePosition(row, work.image[each]), row.min, row.max);
        QSlider *bar = m_bars[each];
        if (bar->value() != position) {
            const QSignalBlocker quiet(bar);
            bar->setValue(position);
        }
        SetRegisterFromControl(each, position);
    }
}

void TMainForm::MusicVolumeTrackBarChange()
{
    coupledBarChange(kMusicVolume);
}
void TMainForm::MusicMaxVolumeTrackBarChange()
{
    coupledBarChange(kMusicMaxVolume);
}
void TMainForm::MicVolumeTrackBarChange()
{
    coupledBarChange(kMicVolume);
}
void TMainForm::MicMaxVolumeTrackBarChange()
{
    coupledBarChange(kMicMaxVolume);
}
void TMainForm::SWVolumeTrackBarChange()
{
    coupledBarChange(kBassVolume);
}
void TMainForm::SWMicVolumeTrackBarChange()
{
    coupledBarChange(kBassMicVolume);
}

void TMainForm::checkBoxClick(std::uint8_t address, bool checked)
{
    const RegisterRow &row = *findRegister(address);
    const bool inverted = row.encoding == Encoding::InvertedSwitch;
    SetRegisterFromControl(address, checked != inverted ? 255 : 0);
}

void TMainForm::radioClick(std::uint8_t address, int value)
{
    switch (address) {
    case kMusicEqModeRegister:
        return SelectMusicEQMode(value);
    case kMicEqModeRegister:
        return SelectMicEQMode(value);
    case kDspModeRegister:
        if (value >= 1 && value <= 4) return DSPModeKRadioButtonClick(value);
        return DSPMode5RadioButtonClick();
    default:
        SetRegisterFromControl(address, value);
    }
}
