// What the simulated board takes from its environment when it is loaded, and the
// file that keeps its registers from one run to the next as a powered board would.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

class Chip;

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

// Restores a register snapshot ("0x47, 0xFF" lines, CR LF or LF) into chip. A missing
// file leaves chip as it is; so does a malformed one, which is reported on stderr.
void loadState(const std::string &path, Chip &chip);
// Writes the 31 stored values as a snapshot with CR LF lines, replacing the file whole.
void saveState(const std::string &path, const Chip &chip);

// One line on stderr, prefixed with the library's name.
void warn(const char *format, ...) __attribute__((format(printf, 1, 2)));

} // namespace ostrel
