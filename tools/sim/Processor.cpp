#include "sim/Processor.h"

namespace zev::sim {

Processor::Processor()
{
    forget();
}

void Processor::forget()
{
    ParameterModel model;
    model.loadFactoryValues();
    registers = model.image;
    locked = false;
}

void Processor::setAtUnit(std::uint8_t address, std::uint8_t value)
{
    registers[address] = value;
    if (findRegister(address)) {
        locked = false;
        registers[kLockAddress] = 0;
    }
}

std::optional<Reply> Processor::receive(std::uint8_t address, std::uint8_t value)
{
    const auto plusOne = [address](std::uint8_t v) {
        return Reply{address, static_cast<std::uint8_t>(v + 1)};
    };
    if (value == kCommandValue) {
        switch (address) {
        case kConnectAddress:
            connected = true;
            return plusOne(value);
        case kDisconnectAddress:
            connected = false;
            return plusOne(value);
        case kLockAddress:
            locked = true;
            registers[kLockAddress] = kCommandValue;
            return plusOne(value);
        default:
            break;
        }
    }
    if (value == kReadRequest) return plusOne(registers[address]);
    if (findRegister(address)) {
        locked = false;
        registers[kLockAddress] = 0;
    }
    registers[address] = mangled == address ? static_cast<std::uint8_t>(value + 1) : value;
    return plusOne(registers[address]);
}

} // namespace zev::sim
