// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// Arithmetic of a register field: width bits starting at bit shift of an 8-bit register.
namespace evm {

// Right-aligned mask of a field of width bits (1..8).
constexpr uint8_t fieldMask(int width)
{
    return uint8_t(0xFFu >> (8 - width));
}

constexpr int fieldValue(uint8_t b, int shift, int width)
{
    return (b >> shift) & fieldMask(width);
}

// The bits of the byte outside the field. The terms are guarded rather than left to the shift,
// so no shift count ever reaches the width of the operand.
constexpr uint8_t keepMask(int shift, int width)
{
    const unsigned above = shift + width >= 8 ? 0u : (0xFFu << (shift + width)) & 0xFFu;
    const unsigned below = shift <= 0 ? 0u : 0xFFu >> (8 - shift);
    return uint8_t(above | below);
}

// Puts value into the field and keeps every other bit of old. value is not masked to the width:
// the combo boxes that use this never hold more items than their field can take.
constexpr uint8_t mergeField(uint8_t old, int shift, int width, int value)
{
    return uint8_t((unsigned(value) << shift) | (old & keepMask(shift, width)));
}

constexpr uint8_t setBit(uint8_t old, int bit, bool on)
{
    const unsigned m = 1u << bit;
    return uint8_t(on ? (old | m) : (old & ~m));
}

} // namespace evm
