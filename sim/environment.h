// What the simulated board takes from its environment when it is loaded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// Decimal, or hexadecimal after "0x" or "0X"; an optional sign; blanks around; nothing else.
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
