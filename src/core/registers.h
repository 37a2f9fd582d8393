// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace evm {

constexpr int FirstRegister = 0x40;
constexpr int LastRegister = 0x5E;
constexpr int RegisterCount = LastRegister - FirstRegister + 1; // 31
constexpr int ShadowSize = 32;                                  // entry 31 has no register behind it

// The two registers of status flags: the DACs' zero flags and the ADCs' overflow flags.
constexpr int ZeroFlagRegister = 0x45;
constexpr int OverflowFlagRegister = 0x56;

inline constexpr bool isChipRegister(int64_t reg) { return reg >= FirstRegister && reg <= LastRegister; }

// What a field is to the program: a setting it may write, a reset trigger
// (written only on purpose), or a status flag the chip sets by itself.
enum class FieldKind { Setting, ResetTrigger, StatusFlag };

// One named field of a chip register. The register map's bit names and the
// command-line tool's field names both come from this table.
struct RegisterField {
    const char *name;
    uint8_t reg;
    uint8_t shift;
    uint8_t width;
    FieldKind kind = FieldKind::Setting;
};

std::span<const RegisterField> registerFields();
const RegisterField *findField(std::string_view name); // ASCII letters in any case

// Bit names as the register map shows them: row = register - 0x40, column j = bit 7 - j,
// "-" for a bit without function, row 31 empty. Derived once from registerFields().
using BitNameTable = std::array<std::array<std::string, 8>, ShadowSize>;
const BitNameTable &registerBitNames();

// A chip register that holds the chip's status flags and no setting: a write
// there sets nothing, so no setup writes it.
bool isStatusFlagRegister(int reg);

// Power-on value of a chip register (0x40..0x5E).
uint8_t powerOnValue(int reg);
// Bits of a register that the shadow keeps on read-back and on write.
uint8_t readableMask(int reg);

} // namespace evm
