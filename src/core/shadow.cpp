// SPDX-License-Identifier: GPL-3.0-or-later
#include "shadow.h"

namespace evm {

void RegisterShadow::fillReadableMask()
{
    mask.fill(0xFF);
    for (int i = 0; i < RegisterCount; ++i)
        mask[i] = readableMask(FirstRegister + i);
}

void RegisterShadow::resetToDefaults()
{
    for (int i = 0; i < RegisterCount; ++i)
        bytes[i] = powerOnValue(FirstRegister + i);
}

std::optional<RegisterShadow::MapRow> RegisterShadow::store(uint32_t reg, int32_t value)
{
    const auto v = static_cast<uint8_t>(value);
    if (reg == 0x40) {
        bytes[0] = v | 0xC0;
        // The map shows the triggers as 1 and bits 5..2 as 0 after a write of 0x40.
        return MapRow{0, static_cast<uint8_t>((v & 0x03) | 0xC0)};
    }
    if (reg > 0x40 && reg <= static_cast<uint32_t>(LastRegister)) {
        const int i = static_cast<int>(reg) - FirstRegister;
        bytes[i] = v & mask[i];
        return MapRow{i, v}; // the map shows the value as written, unmasked
    }
    return std::nullopt;
}

} // namespace evm
