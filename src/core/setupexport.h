// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "fielddiff.h"
#include "serialinterface.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// A setup of the chip carried off the bench: the register writes that bring a chip from its
// power-on values to the setup, as a C table for firmware, i2cset lines for a Linux system, a
// PyVISA script against the instrument server, a JSON description and the program's own
// register script.
namespace evm {

enum class SetupFormat { C, I2cset, Python, Json, Script };

struct SetupFormatInfo {
    SetupFormat format;
    const char *name;        // as the tool's --format takes it
    const char *suffix;      // of its files
    const char *description; // for the help and the window's menu
};
std::span<const SetupFormatInfo> setupFormats();
const SetupFormatInfo *findSetupFormat(std::string_view name);

struct RegisterWrite {
    int reg;
    uint8_t value;
};

// The setup's writes in the order they go out, register by register from 0x40. The status
// flag registers are never written; 0x40 goes out with MRST and SRST as 1, so that it starts
// no reset, and no register carries a status flag. changedOnly keeps the writes whose value
// differs from the register's power-on value.
std::vector<RegisterWrite> setupWrites(const RegisterValues &values, bool changedOnly);

struct SetupExport {
    RegisterValues values{};                  // as read from the chip or held by the shadow
    bool changedOnly = false;
    int32_t iicAddress = DefaultChosenAddress; // the i2cset script's default device address
    std::string origin;                       // "the chip", "the window's register shadow"
    std::string program;                      // "evm5170ctl 1.1.0"
};

// The whole file. Every format but json holds the writes of setupWrites() and nothing else
// that reaches the chip; json describes every register and field with its value and meaning
// (changedOnly keeps the registers whose setup differs from the power-on values).
std::string setupText(SetupFormat format, const SetupExport &setup);

} // namespace evm
