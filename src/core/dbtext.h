// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace evm {

// (value - zeroDb) * 0.5 formatted "0.0": one decimal, '-' for negatives, never "-0.0", '.' whatever the locale.
std::string dbText(int value, int zeroDb);

// Parse of a typed dB value: a decimal number with '.' as separator, whatever the locale; returns nullopt for
// anything that is not a finite number (empty, letters, "nan", "inf", "1e999"...). Held as float (32-bit), as the edit does.
//
// Accepted: optional spaces or tabs around the number, an optional '+' or '-', digits with an optional
// '.' and fraction (at least one digit in all, so "5.", ".5" and "-0" pass), and an optional exponent
// ('e' or 'E', optional sign, at least one digit) for values pasted from other tools. Rejected: ',' as
// separator, digit grouping, hexadecimal, a sign or blank inside the number, and any value that does
// not fit a float (it would otherwise become an infinity).
std::optional<float> parseDb(std::string_view text);

// Clamp d to [(minimum - zeroDb) * 0.5, (maximum - zeroDb) * 0.5] in float, then d*2+zeroDb truncated toward zero.
// The truncation is exact for every float d; a NaN, which parseDb never yields, gives minimum, the most
// attenuation, so a stray NaN can never turn the volume up.
int dbToPosition(float d, int minimum, int maximum, int zeroDb);

} // namespace evm
