#include "model/ParameterModel.h"

#include "model/Encoding.h"

#include <algorithm>

namespace zev {
namespace {
constexpr std::uint8_t kMusicInputRegister = 18; // choosing the same input is sent again
constexpr int kEqPresetSlots = 13;               // slots 0 to 12 start with flat EQs
constexpr std::uint8_t kEchoReverbFirst = 50;
} // namespace

void ParameterModel::clear()
{
    image.fill(0);
    pending.fill(0);
    for (RegisterImage &slot : modeSlots)
        slot.fill(0);
    refreshing = false;
}

void ParameterModel::startAfresh()
{
    clear();
    image[kFeedbackModeRegister] = 1;
    image[kDspModeRegister] = 1;
}

void ParameterModel::loadFactoryValues()
{
    for (const RegisterRow &row : registerMap())
        image[row.address] = row.factory;
    const RegisterRow &musicEq = *findRegister(kMusicEqModeRegister);
    const RegisterRow &micEq = *findRegister(kMicEqModeRegister);
    for (int s = 0; s < kEqPresetSlots; ++s) {
        std::fill(&modeSlots[s][musicEq.blockFirst], &modeSlots[s][musicEq.blockLast] + 1, 0);
        std::fill(&modeSlots[s][micEq.blockFirst], &modeSlots[s][micEq.blockLast] + 1, 0);
    }
    for (const DspPreset &preset : dspPresets())
        std::copy(std::begin(preset.values), std::end(preset.values),
                  &modeSlots[preset.slot][kEchoReverbFirst]);
}

bool ParameterModel::copyRegisterBlock(std::uint8_t modeRegister, int slot, CopyDirection direction)
{
    if (slot < 0 || slot >= kSlotCount) return false;
    const RegisterRow *row = findRegister(modeRegister);
    if (!row || controlKind(*row) != ControlKind::Mode) return true;
    for (int a = row->blockFirst; a <= row->blockLast; ++a) {
        if (direction == CopyDirection::Save)
            modeSlots[slot][a] = image[a];
        else
            image[a] = modeSlots[slot][a];
    }
    return true;
}

void ParameterModel::markTransferSet(std::uint8_t v)
{
    for (const RegisterRow &row : registerMap())
        pending[row.address] = v;
}

bool ParameterModel::markRefreshed(std::uint8_t address)
{
    if (!realTime) return false;
    pending[address] = kPendingWrite;
    return true;
}

int ParameterModel::pendingCount() const
{
    return static_cast<int>(
        std::count_if(pending.begin(), pending.end(), [](std::uint8_t e) { return e != 0; }));
}

EditOutcome ParameterModel::edit(std::uint8_t address, int position)
{
    EditOutcome out;
    out.row = findRegister(address);
    if (!out.row) return out;
    const std::uint8_t value = encodePosition(*out.row, position);
    out.label = labelText(*out.row, position, value);
    if (image[address] == value && address != kMusicInputRegister) return out;
    image[address] = value;
    out.stored = true;
    if (realTime) {
        pending[address] = kPendingWrite;
        out.marked = true;
    }
    return out;
}

} // namespace zev
