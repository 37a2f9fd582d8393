// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "boardlines.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// The four binding tables as the design gives them: each row names its control and the chip
// field it shows; the register and the bits come from the one field table (registerFields()).
// A row's index is its control's Tag.

// The level that means 0 dB, and every combo box's and radio group's items, come with the
// field from the core (fieldtext.h), where the tool takes them too.
struct SliderRow {
    const char *track;
    const char *edit;
    const char *field;
};
inline constexpr SliderRow kSliderRows[] = {
    {"tkDAC0", "edDAC0", "ATDA0"}, {"tkDAC1", "edDAC1", "ATDA1"}, {"tkDAC2", "edDAC2", "ATDA2"},
    {"tkDAC3", "edDAC3", "ATDA3"}, {"tkDAC4", "edDAC4", "ATDA4"}, {"tkDAC5", "edDAC5", "ATDA5"},
    {"tkDAC6", "edDAC6", "ATDA6"}, {"tkDAC7", "edDAC7", "ATDA7"}, {"tkDAC8", "edDAC8", "ATDA8"},
    {"tkADC0", "edADC0", "ATAD0"}, {"tkADC1", "edADC1", "ATAD1"}, {"tkADC2", "edADC2", "ATAD2"},
    {"tkADC3", "edADC3", "ATAD3"}, {"tkADC4", "edADC4", "ATAD4"}, {"tkADC5", "edADC5", "ATAD5"},
    {"tkADC6", "edADC6", "ATAD6"},
};

struct CheckRow {
    const char *box;
    const char *field;
};
inline constexpr CheckRow kCheckRows[] = {
    {"cInvDAC1", "REVDA1"}, {"cInvDAC2", "REVDA2"}, {"cInvDAC3", "REVDA3"}, {"cInvDAC4", "REVDA4"},
    {"cInvDAC5", "REVDA5"}, {"cInvDAC6", "REVDA6"}, {"cInvDAC7", "REVDA7"}, {"cInvDAC8", "REVDA8"},
    {"cInvADC1", "REVAD1"}, {"cInvADC2", "REVAD2"}, {"cInvADC3", "REVAD3"}, {"cInvADC4", "REVAD4"},
    {"cInvADC5", "REVAD5"}, {"cInvADC6", "REVAD6"},
    {"cSEADC1", "SEAD1"}, {"cSEADC2", "SEAD2"}, {"cSEADC3", "SEAD3"}, {"cSEADC4", "SEAD4"},
    {"cSEADC5", "SEAD5"}, {"cSEADC6", "SEAD6"},
    {"cDAC1", "MUTDA1"}, {"cDAC2", "MUTDA2"}, {"cDAC3", "MUTDA3"}, {"cDAC4", "MUTDA4"},
    {"cDAC5", "MUTDA5"}, {"cDAC6", "MUTDA6"}, {"cDAC7", "MUTDA7"}, {"cDAC8", "MUTDA8"},
    {"cADC1", "MUTAD1"}, {"cADC2", "MUTAD2"}, {"cADC3", "MUTAD3"}, {"cADC4", "MUTAD4"},
    {"cADC5", "MUTAD5"}, {"cADC6", "MUTAD6"},
    {"cOPEDA0", "OPEDA0"}, {"cOPEDA1", "OPEDA1"}, {"cOPEDA2", "OPEDA2"}, {"cOPEDA3", "OPEDA3"},
    {"cPowADC12", "PSVAD0"}, {"cPowADC34", "PSVAD1"}, {"cPowADC56", "PSVAD2"},
    {"cHPFADC12", "BYP0"}, {"cHPFADC34", "BYP1"}, {"cHPFADC56", "BYP2"},
};

// A combo row may drive board lines too, after its register: high on item 0 ("Slave").
constexpr int32_t kNoLine = -1;
struct ComboRow {
    const char *combo;
    const char *field;
    std::array<int32_t, 2> lines = {kNoLine, kNoLine};
};
inline constexpr ComboRow kComboRows[] = {
    {"cbDACMasterSlave", "MSDA", {evm::BoardLine::DacSlave, kNoLine}},
    {"cbDACFMT", "FMTDA"},
    {"cbADCMasterSlave", "MSAD", {evm::BoardLine::AdcSlave, evm::BoardLine::AdcSlave2}},
    {"cbADCFMT", "FMTAD"}, {"cbDACSAM", "SRDA"}, {"cbADCSAM", "SRAD"},
    {"cbZeroFunc", "AZRO"}, {"cbZeroPole", "ZREV"}, {"cbOvfPole", "OVFP"},
    {"cbDEMP", "DEMP"}, {"cbFLT12", "FLT0"}, {"cbFLT34", "FLT1"},
    {"cbFLT56", "FLT2"}, {"cbFLT78", "FLT3"},
};

struct RadioRow {
    const char *group;
    const char *field;
};
inline constexpr RadioRow kRadioRows[] = {
    {"rgDACPowSav", "PSMDA"}, {"rgDACAttMode", "ATMDDA"}, {"rgDACAttSpeed", "ATSPDA"},
    {"rgADCAttMode", "ATMDAD"}, {"rgADCAttSpeed", "ATSPAD"},
};

// The row of a table that names a field, found when the program is compiled; -1 for none.
template <typename Row, size_t N>
constexpr int rowOfField(const Row (&rows)[N], std::string_view field)
{
    for (size_t i = 0; i < N; ++i)
        if (std::string_view(rows[i].field) == field)
            return int(i);
    return -1;
}
