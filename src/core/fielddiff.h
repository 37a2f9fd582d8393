// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "registers.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Register values seen field by field: the field values of a register as text, the
// snapshot with those values beside each line, reading a snapshot back, and the
// comparison of two sets of register values by register and by field name.
namespace evm {

using RegisterValues = std::array<uint8_t, RegisterCount>; // index = register - 0x40

// The fields of one register, most significant first; empty outside 0x40..0x5E.
std::vector<const RegisterField *> fieldsOfRegister(int reg);
// "ATMDDA=0 ATSPDA=0 DEMP=0 AZRO=5 ZREV=0": each field of reg with its value, in decimal.
std::string fieldValuesText(int reg, uint8_t value);

// The snapshot lines with the field values as a third field: "0x46, 0x0A, ATMDDA=0 ATSPDA=0 DEMP=0 AZRO=5 ZREV=0".
// Fields after the second are ignored by the script format, so the text still runs as a script
// and writes the same 31 values. CR LF after every line.
std::string annotatedSnapshotText(const RegisterValues &values);

// The register values a snapshot holds. Lines are read by the script rules (so annotated
// snapshots and quoted fields read too); blank lines are skipped. Every other line must write
// a chip register 0x40..0x5E, and every register must have a line; where a register has more
// than one, the last counts, as when the file is run. On failure the reason, naming the line.
std::optional<std::string> parseSnapshot(std::string_view bytes, RegisterValues &values);

struct FieldDifference {
    const RegisterField *field;
    int a;
    int b;
};

struct RegisterDifference {
    int reg;
    uint8_t a;
    uint8_t b;
    std::vector<FieldDifference> fields; // the named fields that differ, most significant first
};

enum class Comparison {
    WholeBytes,   // any bit counts, status flags and bits without a name included
    SettingsOnly, // only the fields the program may write; flags, triggers and unnamed bits are ignored
};

std::vector<RegisterDifference> compareRegisters(const RegisterValues &a, const RegisterValues &b, Comparison how);

// "0x46: 0x0A -> 0x2A  DEMP 0 -> 2, AZRO 5 -> 1"; without named fields only the bytes.
std::string differenceText(const RegisterDifference &d);

} // namespace evm
