// The register map: one row per processor register that carries a setting.
//
// Everything that depends on what a register means (its control, encoding, range, value
// label, factory value, membership of the transfer set) is read from this one table.
// No Qt here: the emulator, the tests and the benchmarks use it alone.
#pragma once

#include <cstdint>
#include <span>

namespace zev {

/// How a control position becomes a register value and back. Values are bytes; every
/// encoding computes modulo 256.
enum class Encoding {
    Attenuation,    ///< p 0..87 is value p, p 88 is value 127
    Reversed,       ///< value = K - p
    BoostEq,        ///< p <= 0 is value -p, p > 0 is value p + 8
    CutTone,        ///< p >= 0 is value p, p < 0 is value 8 - p
    Switch,         ///< check box: checked 255, unchecked 0
    InvertedSwitch, ///< check box: checked 0, unchecked 255
    Choice,         ///< radio group: each button passes its own value
};

/// Text of the value label beside a track bar.
enum class LabelForm {
    None,
    Level,   ///< 88 - position, then "dB"
    ValueDb, ///< register value, then "dB"
    Value,   ///< register value alone
};

/// What kind of control shows a register.
enum class ControlKind { TrackBar, CheckBox, Radio, Mode };

/// One radio button of a choice register.
struct Choice {
    const char *control; ///< design name, e.g. "FBX1RadioButton"
    const char *caption;
    std::uint8_t value;
};

struct RegisterRow {
    std::uint8_t address;
    const char *control; ///< track bar or check box; nullptr for radio groups
    const char *caption; ///< caption of the control, or of the radio group
    Encoding encoding;
    int k;                           ///< constant of the reversed encoding
    int min, max;                    ///< track bar range, Min at the top
    int initial;                     ///< track bar position before the first refresh
    bool ticks;                      ///< one tick per position
    const char *label;               ///< value label, or nullptr
    LabelForm form;                  ///< form of the value label text
    const char *initialLabel;        ///< caption of the value label before the first refresh
    std::uint8_t factory;            ///< factory value
    std::span<const Choice> choices; ///< radio buttons of a choice register
    std::uint8_t blockFirst = 0;     ///< mode registers: first register of the block
    std::uint8_t blockLast = 0;      ///< mode registers: last register of the block
};

/// The rows, in ascending address order (56 of them: the transfer set).
std::span<const RegisterRow> registerMap();

/// The row of an address, or nullptr when the address carries no setting.
const RegisterRow *findRegister(std::uint8_t address);

/// Track bar, check box, plain radio group or mode radio group.
ControlKind controlKind(const RegisterRow &row);

/// The three mode registers and their blocks.
constexpr std::uint8_t kMusicEqModeRegister = 23;
constexpr std::uint8_t kMicEqModeRegister = 36;
constexpr std::uint8_t kDspModeRegister = 49;
/// The feedback suppression mode ("啸叫抑制模式").
constexpr std::uint8_t kFeedbackModeRegister = 44;
/// DSP modes 5 to 20 are fixed modes without a button of their own ("固定模式" and "P").
constexpr int kFirstFixedDspMode = 5;
constexpr int kLastFixedDspMode = 20;

/// Commands carried by addresses 3, 6 and 7 with the value 102, answered with 103.
constexpr std::uint8_t kLockAddress = 3;
constexpr std::uint8_t kConnectAddress = 6;
constexpr std::uint8_t kDisconnectAddress = 7;
constexpr std::uint8_t kCommandValue = 102;
constexpr std::uint8_t kCommandReply = 103;
/// A frame with this value asks the processor to report the register.
constexpr std::uint8_t kReadRequest = 252;

/// Number of registers that send-all and read-back move.
constexpr int kTransferSetSize = 56;

/// Echo and reverb presets of DSP modes K1 to K4 (registers 50 to 59), kept in slots 1 to 4.
struct DspPreset {
    int slot;
    std::uint8_t values[10];
};
std::span<const DspPreset> dspPresets();

} // namespace zev
