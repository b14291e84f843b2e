// The refresh: controls set from the register image without feeding their positions back.
#include "model/Encoding.h"
#include "ui/Main.h"

#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>

using namespace zev;

bool TMainForm::SetControlFromRegister(std::uint8_t address)
{
    // A plain flag, not a counter: the nested refreshes of a block clear it on return.
    m_model.refreshing = true;
    bool changed = false;
    const std::uint8_t value = m_model.image[address];
    if (const RegisterRow *row = findRegister(address)) {
        switch (controlKind(*row)) {
        case ControlKind::TrackBar: {
            const int position = decodePosition(*row, value);
            QSlider *bar = m_bars[address];
            if (bar->value() != position) {
                if (m_valueLabels[address])
                    showValue(address, QString::fromStdString(labelText(*row, position, value)));
                bar->setValue(position); // clamps to the bar's range
                changed = true;
            }
            break;
        }
        case ControlKind::CheckBox:
            m_checks[address]->setChecked(decodeChecked(*row, value));
            changed = true;
            break;
        case ControlKind::Mode:
            for (int a = row->blockFirst; a <= row->blockLast; ++a)
                SetControlFromRegister(static_cast<std::uint8_t>(a));
            [[fallthrough]];
        case ControlKind::Radio:
            if (QRadioButton *button = radioButton(address, value)) button->setChecked(true);
            changed = true;
            break;
        }
    }
    if (changed && m_model.markRefreshed(address)) markLockStateChanged();
    m_model.refreshing = false;
    return changed;
}

bool TMainForm::SetAllControlsFromImage()
{
    for (int a = 0; a < 255; ++a)
        SetControlFromRegister(static_cast<std::uint8_t>(a));
    return true;
}
