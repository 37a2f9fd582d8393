// SPDX-License-Identifier: GPL-3.0-or-later
#include "registers.h"

namespace evm {

namespace {
using K = FieldKind;

constexpr RegisterField kFields[] = {
    {"MRST", 0x40, 7, 1, K::ResetTrigger}, {"SRST", 0x40, 6, 1, K::ResetTrigger}, {"SRDA", 0x40, 0, 2},
    {"PSMDA", 0x41, 7, 1}, {"MSDA", 0x41, 4, 3}, {"FMTDA", 0x41, 0, 4},
    {"OPEDA3", 0x42, 7, 1}, {"OPEDA2", 0x42, 6, 1}, {"OPEDA1", 0x42, 5, 1}, {"OPEDA0", 0x42, 4, 1},
    {"FLT3", 0x42, 3, 1}, {"FLT2", 0x42, 2, 1}, {"FLT1", 0x42, 1, 1}, {"FLT0", 0x42, 0, 1},
    {"REVDA8", 0x43, 7, 1}, {"REVDA7", 0x43, 6, 1}, {"REVDA6", 0x43, 5, 1}, {"REVDA5", 0x43, 4, 1},
    {"REVDA4", 0x43, 3, 1}, {"REVDA3", 0x43, 2, 1}, {"REVDA2", 0x43, 1, 1}, {"REVDA1", 0x43, 0, 1},
    {"MUTDA8", 0x44, 7, 1}, {"MUTDA7", 0x44, 6, 1}, {"MUTDA6", 0x44, 5, 1}, {"MUTDA5", 0x44, 4, 1},
    {"MUTDA4", 0x44, 3, 1}, {"MUTDA3", 0x44, 2, 1}, {"MUTDA2", 0x44, 1, 1}, {"MUTDA1", 0x44, 0, 1},
    {"ZERO8", 0x45, 7, 1, K::StatusFlag}, {"ZERO7", 0x45, 6, 1, K::StatusFlag},
    {"ZERO6", 0x45, 5, 1, K::StatusFlag}, {"ZERO5", 0x45, 4, 1, K::StatusFlag},
    {"ZERO4", 0x45, 3, 1, K::StatusFlag}, {"ZERO3", 0x45, 2, 1, K::StatusFlag},
    {"ZERO2", 0x45, 1, 1, K::StatusFlag}, {"ZERO1", 0x45, 0, 1, K::StatusFlag},
    {"ATMDDA", 0x46, 7, 1}, {"ATSPDA", 0x46, 6, 1}, {"DEMP", 0x46, 4, 2}, {"AZRO", 0x46, 1, 3}, {"ZREV", 0x46, 0, 1},
    {"ATDA0", 0x47, 0, 8}, {"ATDA1", 0x48, 0, 8}, {"ATDA2", 0x49, 0, 8}, {"ATDA3", 0x4A, 0, 8},
    {"ATDA4", 0x4B, 0, 8}, {"ATDA5", 0x4C, 0, 8}, {"ATDA6", 0x4D, 0, 8}, {"ATDA7", 0x4E, 0, 8},
    {"ATDA8", 0x4F, 0, 8},
    {"SRAD", 0x50, 0, 2},
    {"MSAD", 0x51, 4, 3}, {"FMTAD", 0x51, 0, 3},
    {"PSVAD2", 0x52, 6, 1}, {"PSVAD1", 0x52, 5, 1}, {"PSVAD0", 0x52, 4, 1},
    {"BYP2", 0x52, 2, 1}, {"BYP1", 0x52, 1, 1}, {"BYP0", 0x52, 0, 1},
    {"SEAD6", 0x53, 5, 1}, {"SEAD5", 0x53, 4, 1}, {"SEAD4", 0x53, 3, 1},
    {"SEAD3", 0x53, 2, 1}, {"SEAD2", 0x53, 1, 1}, {"SEAD1", 0x53, 0, 1},
    {"REVAD6", 0x54, 5, 1}, {"REVAD5", 0x54, 4, 1}, {"REVAD4", 0x54, 3, 1},
    {"REVAD3", 0x54, 2, 1}, {"REVAD2", 0x54, 1, 1}, {"REVAD1", 0x54, 0, 1},
    {"MUTAD6", 0x55, 5, 1}, {"MUTAD5", 0x55, 4, 1}, {"MUTAD4", 0x55, 3, 1},
    {"MUTAD3", 0x55, 2, 1}, {"MUTAD2", 0x55, 1, 1}, {"MUTAD1", 0x55, 0, 1},
    {"OVF6", 0x56, 5, 1, K::StatusFlag}, {"OVF5", 0x56, 4, 1, K::StatusFlag},
    {"OVF4", 0x56, 3, 1, K::StatusFlag}, {"OVF3", 0x56, 2, 1, K::StatusFlag},
    {"OVF2", 0x56, 1, 1, K::StatusFlag}, {"OVF1", 0x56, 0, 1, K::StatusFlag},
    {"ATMDAD", 0x57, 7, 1}, {"ATSPAD", 0x57, 6, 1}, {"OVFP", 0x57, 0, 1},
    {"ATAD0", 0x58, 0, 8}, {"ATAD1", 0x59, 0, 8}, {"ATAD2", 0x5A, 0, 8}, {"ATAD3", 0x5B, 0, 8},
    {"ATAD4", 0x5C, 0, 8}, {"ATAD5", 0x5D, 0, 8}, {"ATAD6", 0x5E, 0, 8},
};

BitNameTable buildBitNames()
{
    BitNameTable t;
    for (int row = 0; row < RegisterCount; ++row)
        t[row].fill("-");
    for (const RegisterField &f : kFields) {
        for (int b = f.shift; b < f.shift + f.width; ++b) {
            std::string name = f.name;
            // A multi-bit field names its bits by their place in the field: DEMP1, DEMP0; ATDA07..ATDA00.
            if (f.width > 1)
                name += std::to_string(b - f.shift);
            t[f.reg - FirstRegister][7 - b] = name;
        }
    }
    return t;
}
} // namespace

std::span<const RegisterField> registerFields() { return kFields; }

namespace {
// Field names are ASCII letters and digits; case folds for A..Z only, so no other character
// (a multi-byte one included) ever matches one of their letters.
bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}
} // namespace

const RegisterField *findField(std::string_view name)
{
    for (const RegisterField &f : kFields)
        if (sameName(name, f.name))
            return &f;
    return nullptr;
}

const BitNameTable &registerBitNames()
{
    static const BitNameTable table = buildBitNames();
    return table;
}

bool isStatusFlagRegister(int reg)
{
    bool flags = false;
    for (const RegisterField &f : kFields) {
        if (f.reg != reg)
            continue;
        if (f.kind != FieldKind::StatusFlag)
            return false;
        flags = true;
    }
    return flags;
}

uint8_t powerOnValue(int reg)
{
    if (reg == 0x40)
        return 0xC0;
    if (reg >= 0x47 && reg <= 0x4F)
        return 0xFF; // DAC attenuators at 0 dB
    if (reg >= 0x58 && reg <= 0x5E)
        return 0xD7; // ADC attenuators at 0 dB
    return 0x00;
}

uint8_t readableMask(int reg)
{
    switch (reg) {
    case 0x40: return 0x3F; // MRST and SRST are triggers, not settings
    case 0x45: return 0x00; // zero flags
    case 0x56: return 0xC0; // overflow flags
    default: return 0xFF;
    }
}

} // namespace evm
