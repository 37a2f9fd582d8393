// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "registers.h"

#include <array>
#include <cstdint>
#include <optional>

namespace evm {

// The program's copy of the chip's registers, indexed by register - 0x40.
// From the first load on, entry 0 always has bits 7 and 6 set (so a write built
// from it never starts a reset) and no status flag is ever kept.
class RegisterShadow
{
public:
    std::array<uint8_t, ShadowSize> bytes{};
    std::array<uint8_t, ShadowSize> mask{}; // ReadableMask

    // 0xFF everywhere, then the three registers whose flags or triggers are not kept.
    void fillReadableMask();
    // Entries 0..30 to the power-on values; entry 31 untouched.
    void resetToDefaults();

    // What a write shows in the register map: row and value.
    struct MapRow {
        int row;
        uint8_t value;
    };
    // The store rule of a register write. Returns the map row to recolour, if any.
    std::optional<MapRow> store(uint32_t reg, int32_t value);
    // One step of the read-back: keeps the readable bits of what the chip returned.
    void storeReadBack(int index, uint8_t value) { bytes[index] = value & mask[index]; }
    void finishReadBack() { bytes[0] |= 0xC0; }

    uint8_t byte(int reg) const { return bytes[reg - FirstRegister]; }
};

} // namespace evm
