// Mode memories: each EQ mode and each DSP mode K1 to K4 keeps its own register block.
#include "model/EditRules.h"
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

// By the shared rules, the block goes to the slot of the mode being left and the entered
// mode's block comes back (a fixed DSP mode only sets the number); the refresh shows (and, in
// real time, queues) the result. The mode shown again by a refresh keeps the block in its slot.
void TMainForm::selectMode(std::uint8_t modeRegister, int mode)
{
    const bool fixed = modeRegister == kDspModeRegister && mode >= kFirstFixedDspMode;
    if (m_model.image[modeRegister] == mode && !fixed)
        CopyRegisterBlock(modeRegister, mode, CopyDirection::Save); // a refresh showing the mode
    else
        applyEdit(m_model, modeRegister, static_cast<std::uint8_t>(mode));
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

void TMainForm::SelectDSPMode(int mode)
{
    selectMode(kDspModeRegister, mode);
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
