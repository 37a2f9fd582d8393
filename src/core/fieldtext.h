// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "registers.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What a field's value means to a user: the item the window's combo box or radio group shows
// for it, or for an attenuator its level in dB. The window fills its controls from these
// tables; the tool prints them and takes them as values.
namespace evm {

// The items of the field's combo box or radio group in value order ("Disable", "48kHz",
// "44.1kHz", "32kHz" for DEMP); empty for a field shown otherwise.
std::span<const char *const> fieldItems(const RegisterField &field);

// "5..4" for a field of bits 5 to 4, "2" for bit 2.
std::string fieldBitsText(const RegisterField &field);

// The register value that means 0 dB (255 for the DAC attenuators, 215 for the ADC ones);
// none for a field that is no attenuator.
std::optional<int> attenuatorZeroDb(const RegisterField &field);

// The value's meaning: its item, "-63.5 dB" for an attenuator, "(no item)" for a value its
// control has no item for, "status flag" or "reset trigger" for those; empty for a plain bit.
std::string fieldMeaning(const RegisterField &field, int value);

// A value typed for a field, as the tool's set takes it: an integer in the program's integer
// text, an item of the field (A..Z in any case, blanks ignored: "32khz", "single rate",
// "SingleRate"), or for an attenuator a dB value with the unit ("-12.5dB", "+3 db"), which
// goes to the track bar's step at or below it and is held to its range, as a dB edit of the
// window does.
struct FieldValueText {
    enum class Kind { Number, Item, Decibel, Invalid } kind = Kind::Invalid;
    int64_t value = 0;      // Number: as given, not yet range-checked; Item and Decibel: the value
    bool clamped = false;   // Decibel: beyond the attenuator's range, held to its end
    std::string reason;     // Invalid: why, in one line
};
FieldValueText parseFieldValueText(const RegisterField &field, std::string_view text);

// The field names nearest to a mistyped one (case ignored): those at the least edit distance
// within reach of its length, else those it begins; empty when nothing is near.
std::vector<const RegisterField *> nearestFields(std::string_view name);
// "unknown field 'DEPM'; did you mean DEMP?", or with every field's name when none is near.
std::string unknownFieldText(std::string_view name);

} // namespace evm
