// SPDX-License-Identifier: GPL-3.0-or-later
// What the simulated board takes from its environment when it is loaded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// A number of the environment or of the state file: the program's integer text (decimal, or
// hexadecimal after 0x, $ or x; an optional sign; 32 bits), with blanks allowed around it.
std::optional<long long> parseInteger(std::string_view text);

struct FaultSetting {
    int kind; // OstrelSimFaultKind
    int after;
    int32_t code;
};
// "kind[@after]=code,..." with kind read, write or pin. Entries that cannot be read
// are reported on stderr and skipped; the others still apply.
std::vector<FaultSetting> parseFaults(std::string_view text);

} // namespace ostrel
