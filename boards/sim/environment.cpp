// SPDX-License-Identifier: GPL-3.0-or-later
#include "environment.h"

#include "inttext.h"
#include "ostrel_shim.h"
#include "ostrel_sim.h"

#include <climits>

namespace ostrel {

namespace {

using evm::trimmed;

std::optional<int> faultKind(std::string_view name)
{
    if (name == "read")
        return OSTREL_SIM_FAULT_READ;
    if (name == "write")
        return OSTREL_SIM_FAULT_WRITE;
    if (name == "pin")
        return OSTREL_SIM_FAULT_PIN;
    return std::nullopt;
}

std::optional<FaultSetting> parseFault(std::string_view entry)
{
    const auto equals = entry.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    std::string_view head = trimmed(entry.substr(0, equals));
    long long after = 0;
    if (const auto at = head.find('@'); at != std::string_view::npos) {
        const auto count = parseInteger(head.substr(at + 1));
        if (!count || *count < 0 || *count > INT_MAX)
            return std::nullopt;
        after = *count;
        head = trimmed(head.substr(0, at));
    }
    const auto kind = faultKind(head);
    const auto code = parseInteger(entry.substr(equals + 1));
    // Codes are 32-bit words; accept them written signed or unsigned.
    if (!kind || !code || *code < INT32_MIN || *code > UINT32_MAX)
        return std::nullopt;
    return FaultSetting{*kind, int(after), int32_t(uint32_t(*code))};
}

} // namespace

std::optional<long long> parseInteger(std::string_view text)
{
    const std::optional<int32_t> value = evm::parseInteger(trimmed(text));
    if (!value)
        return std::nullopt;
    return *value;
}

std::vector<FaultSetting> parseFaults(std::string_view text)
{
    std::vector<FaultSetting> faults;
    while (!text.empty()) {
        const auto comma = text.find(',');
        const std::string_view entry = trimmed(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (entry.empty())
            continue;
        if (const auto fault = parseFault(entry))
            faults.push_back(*fault);
        else
            warn("OSTREL_SIM_FAIL: cannot read \"%.*s\" (expected kind[@after]=code with kind read, "
                 "write or pin), ignoring it", int(entry.size()), entry.data());
    }
    return faults;
}

} // namespace ostrel
