#include "model/EditRules.h"

#include "model/Encoding.h"
#include "model/Shown.h"

#include <algorithm>

namespace zev {
namespace {

struct Pair {
    std::uint8_t lower;  ///< the bar kept at or below the other's level (a larger position)
    std::uint8_t higher; ///< the bar it is held against
    bool lowerLeads;     ///< which bar gives way when the other moves: see below
};

// Music and microphone volume (16, 32) never stand above their maximum (17, 33); the mic-on
// bass (86) never above the bass volume (85).
constexpr Pair kPairs[] = {{16, 17, true}, {32, 33, true}, {86, 85, false}};

int positionIn(const RegisterRow &row, std::uint8_t value)
{
    return std::clamp(decodePosition(row, value), row.min, row.max);
}

} // namespace

std::vector<std::uint8_t> applyEdit(ParameterModel &model, std::uint8_t address, std::uint8_t value)
{
    const RegisterRow *row = findRegister(address);
    if (!row) return {};
    RegisterImage &image = model.image;
    const RegisterImage before = image;
    std::vector<std::uint8_t> order;
    const auto set = [&](const RegisterRow &r, int position) {
        image[r.address] = encodePosition(r, position);
        if (std::find(order.begin(), order.end(), r.address) == order.end()) order.push_back(r.address);
    };
    switch (controlKind(*row)) {
    case ControlKind::TrackBar: {
        int position = positionIn(*row, value);
        const Pair *pair = nullptr;
        for (const Pair &p : kPairs)
            if (p.lower == address || p.higher == address) pair = &p;
        if (!pair) {
            set(*row, position);
            break;
        }
        const RegisterRow &lower = *findRegister(pair->lower);
        const RegisterRow &higher = *findRegister(pair->higher);
        if (address == pair->lower) {
            // The held bar is brought back to its partner.
            position = std::max(position, positionIn(higher, image[higher.address]));
            set(lower, position);
        } else if (pair->lowerLeads) {
            // A maximum moved below the volume drags the volume along first.
            if (positionIn(lower, image[lower.address]) < position) set(lower, position);
            set(higher, position);
        } else {
            // The bass volume moved below the mic-on bass drags it along after.
            set(higher, position);
            if (positionIn(lower, image[lower.address]) < position) set(lower, position);
        }
        break;
    }
    case ControlKind::Mode: {
        const bool fixed = address == kDspModeRegister && value >= kFirstFixedDspMode &&
                           value <= kLastFixedDspMode;
        const bool chosen = std::any_of(row->choices.begin(), row->choices.end(),
                                        [value](const Choice &c) { return c.value == value; });
        if (!fixed && !chosen) return {}; // no button of the window chooses it
        if (image[address] == value) return {}; // the chosen mode, chosen again: nothing moves
        if (!fixed) {
            model.copyRegisterBlock(address, image[address], CopyDirection::Save);
            model.copyRegisterBlock(address, value, CopyDirection::Restore);
        }
        image[address] = value;
        order.push_back(address);
        for (int a = row->blockFirst; !fixed && a <= row->blockLast; ++a) order.push_back(std::uint8_t(a));
        break;
    }
    default:
        image[address] = value;
        order.push_back(address);
        break;
    }
    std::erase_if(order, [&](std::uint8_t a) { return image[a] == before[a]; });
    return order;
}

std::optional<std::uint8_t> steppedValue(const RegisterRow &row, std::uint8_t value, int step)
{
    if (controlKind(row) != ControlKind::TrackBar || step == 0) return std::nullopt;
    const int position = positionIn(row, value);
    const auto here = numberShown(shownValue(row, encodePosition(row, position)));
    for (const int next : {position - 1, position + 1}) {
        if (next < row.min || next > row.max) continue;
        const std::uint8_t candidate = encodePosition(row, next);
        const auto there = numberShown(shownValue(row, candidate));
        if (here && there && (step > 0 ? *there > *here : *there < *here)) return candidate;
    }
    return std::nullopt;
}

} // namespace zev
