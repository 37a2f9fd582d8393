// SPDX-License-Identifier: GPL-3.0-or-later
// The Linux board's configuration file: which device files reach the chip and which
// GPIO lines play the board's numbered control lines.
//
//   [IIC]
//   Device=/dev/i2c-1
//   [SPI]
//   Device=/dev/spidev0.0
//   Mode=0
//   SpeedHz=1000000
//   ReadFlag=0x80
//   [Lines]
//   Chip=/dev/gpiochip0
//   53=17
//   49=/dev/gpiochip1:5
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::linuxboard {

struct LineMapping {
    int boardLine = 0;
    std::string chip;
    unsigned offset = 0;
};

struct Config {
    std::string iicDevice; // empty when the file has none
    std::string spiDevice;
    uint8_t spiMode = 0;
    uint32_t spiSpeedHz = 1000000;
    uint8_t readFlag = 0x80;
    std::vector<LineMapping> lines; // by board line, each chip line at most once
};

// EVM_LINUX_BOARD when set, else EVM5170-linux.ini beside the program's EVM5170.ini
// ($XDG_CONFIG_HOME, else ~/.config).
std::string configPath();

// The whole file, or nothing and why, as "path:line: what" (or "path: what").
// The lines are read by the settings file's INI rules (ini.h: quotes, escapes, ';' comments);
// section and key names are matched without regard to case; numbers are the program's
// integer text (decimal, or hexadecimal after 0x); lines starting with # are comments too.
std::optional<Config> parseConfig(const std::string &path, const std::string &text, std::string &error);
std::optional<Config> readConfig(const std::string &path, std::string &error);

} // namespace ostrel::linuxboard
