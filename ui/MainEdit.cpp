// The edit path: a control's position into the register image, and the handlers of the
// parameter controls that feed it.
#include "model/Encoding.h"
#include "ui/Main.h"

#include <QLabel>
#include <QSlider>

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

// A volume bar never stands above (at a smaller position than) its maximum bar.
void TMainForm::volumeChange(std::uint8_t volume, std::uint8_t maximum)
{
    if (m_model.refreshing) return;
    QSlider *bar = m_bars[volume];
    if (bar->value() < m_bars[maximum]->value()) bar->setValue(m_bars[maximum]->value());
    SetRegisterFromControl(volume, bar->value());
}

// Moving the maximum below the volume drags the volume along first.
void TMainForm::maxVolumeChange(std::uint8_t volume, std::uint8_t maximum)
{
    if (m_model.refreshing) return;
    if (m_bars[volume]->value() < m_bars[maximum]->value()) trackBarChange(volume);
    SetRegisterFromControl(maximum, m_bars[maximum]->value());
}

void TMainForm::MusicVolumeTrackBarChange()
{
    volumeChange(kMusicVolume, kMusicMaxVolume);
}
void TMainForm::MusicMaxVolumeTrackBarChange()
{
    maxVolumeChange(kMusicVolume, kMusicMaxVolume);
}
void TMainForm::MicVolumeTrackBarChange()
{
    volumeChange(kMicVolume, kMicMaxVolume);
}
void TMainForm::MicMaxVolumeTrackBarChange()
{
    maxVolumeChange(kMicVolume, kMicMaxVolume);
}

// The bass pair: the mic-on bass bar never stands above the bass bar.
void TMainForm::SWVolumeTrackBarChange()
{
    if (m_model.refreshing) return;
    SetRegisterFromControl(kBassVolume, m_bars[kBassVolume]->value());
    if (m_bars[kBassMicVolume]->value() < m_bars[kBassVolume]->value()) SWMicVolumeTrackBarChange();
}

void TMainForm::SWMicVolumeTrackBarChange()
{
    if (m_model.refreshing) return;
    QSlider *bar = m_bars[kBassMicVolume];
    SetRegisterFromControl(kBassMicVolume, bar->value());
    if (bar->value() < m_bars[kBassVolume]->value()) bar->setValue(m_bars[kBassVolume]->value());
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
