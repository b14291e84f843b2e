// Mode memories: each EQ mode and each DSP mode K1 to K4 keeps its own register block.
#include "ui/Main.h"
#include "ui/Widgets.h"

#include <QSlider>

using namespace zev;

void TMainForm::LoadFactoryValues()
{
    m_model.loadFactoryValues();
}

bool TMainForm::CopyRegisterBlock(std::uint8_t modeRegister, int slot, CopyDirection direction)
{
    return m_model.copyRegisterBlock(modeRegister, slot, direction);
}

// The block goes to the slot of the mode being left, the entered mode's block comes back,
// and the refresh shows (and, in real time, queues) the result.
void TMainForm::selectMode(std::uint8_t modeRegister, int mode)
{
    CopyRegisterBlock(modeRegister, m_model.image[modeRegister], CopyDirection::Save);
    CopyRegisterBlock(modeRegister, mode, CopyDirection::Restore);
    m_model.image[modeRegister] = static_cast<std::uint8_t>(mode);
    SetControlFromRegister(modeRegister);
}

void TMainForm::SelectMusicEQMode(int mode)
{
    selectMode(kMusicEqModeRegister, mode);
}

void TMainForm::SelectMicEQMode(int mode)
{
    selectMode(kMicEqModeRegister, mode);
}

// Fixed modes only set the mode number: nothing is saved or restored.
void TMainForm::SelectDSPMode(int mode)
{
    if (mode < kFirstFixedDspMode) {
        selectMode(kDspModeRegister, mode);
        return;
    }
    m_model.image[kDspModeRegister] = static_cast<std::uint8_t>(mode);
    SetControlFromRegister(kDspModeRegister);
}

void TMainForm::SetEffectControlsEnabled(bool enabled)
{
    for (QWidget *control : m_effectControls)
        control->setEnabled(enabled);
}

void TMainForm::DSPModeKRadioButtonClick(int k)
{
    SetEffectControlsEnabled(true);
    m_fixedModeEdit->setEnabled(false);
    SelectDSPMode(k);
}

void TMainForm::DSPMode5RadioButtonClick()
{
    m_fixedModeEdit->setEnabled(true);
    SetEffectControlsEnabled(false);
    DSPModeCSpinEditChange();
}

void TMainForm::DSPModeCSpinEditChange()
{
    const int n = m_fixedModeEdit->text().trimmed().toInt();
    SelectDSPMode(std::clamp(n, kFirstFixedDspMode, kLastFixedDspMode));
}
