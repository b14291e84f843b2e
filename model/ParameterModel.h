// The panel's copy of the processor: register image, pending table, mode slots and the two
// flags that the edit path and the refresh obey. Owned by the main window; everything runs on
// the user-interface thread, so nothing here is locked.
#pragma once

#include "model/RegisterMap.h"

#include <array>
#include <cstdint>
#include <string>

namespace zev {

using RegisterImage = std::array<std::uint8_t, 256>;

constexpr int kSlotCount = 21;

/// Pending table entries: 0 nothing to do, 1 to 127 write, top bit set read.
constexpr std::uint8_t kPendingNone = 0;
constexpr std::uint8_t kPendingWrite = 1;
constexpr std::uint8_t kPendingRead = 255;
inline bool isPendingRead(std::uint8_t entry)
{
    return (entry & 0x80) != 0;
}

enum class CopyDirection { Save, Restore }; ///< image to slot, slot to image

/// What one call of the edit path did.
struct EditOutcome {
    const RegisterRow *row = nullptr; ///< nullptr: the address carries no setting
    std::string label;                ///< new value label text, empty without a label
    bool stored = false;              ///< the value was stored in the image
    bool marked = false;              ///< the register was marked for writing
};

struct ParameterModel {
    RegisterImage image{};
    RegisterImage pending{};
    std::array<RegisterImage, kSlotCount> modeSlots{};
    bool realTime = false;   ///< every change is marked for sending at once
    bool refreshing = false; ///< set while controls are set from the image

    /// Image, pending table and slots to zero, refreshing flag clear.
    void clear();

    /// What a session holds before any file or processor is read: cleared, with the feedback
    /// mode (44) and the DSP mode (49) at 1, so that both show a mode.
    void startAfresh();

    /// Factory values of the transfer set and the slot presets; nothing else is touched.
    void loadFactoryValues();

    /// Copies the block of a mode register between the image and a slot. False (nothing
    /// copied) for a slot above 20; true and nothing copied for any non-mode register.
    bool copyRegisterBlock(std::uint8_t modeRegister, int slot, CopyDirection direction);

    /// Sets the pending entry of every register of the transfer set to v.
    void markTransferSet(std::uint8_t v);

    /// Marks a register whose control the refresh changed; true when it was marked.
    bool markRefreshed(std::uint8_t address);

    /// Number of nonzero pending entries.
    int pendingCount() const;

    /// The edit path without its controls: encode, label text, compare, store, mark.
    /// Register 18 always counts as changed.
    EditOutcome edit(std::uint8_t address, int position);
};

} // namespace zev
