// SPDX-License-Identifier: GPL-3.0-or-later
// libOstrelLinux.so: a real chip on a Linux machine, through the kernel's user-space
// interfaces. Registers over /dev/i2c-N (SMBus byte-data transfers through libi2c) or
// /dev/spidevB.C (two-byte full-duplex frames); board lines through libgpiod as outputs.
//
// Result codes beyond the shared ones: 0x0101 when nothing acknowledges at the IIC
// address (ENXIO, EREMOTEIO), 0x0200 + errno for any other failure of the system
// (an unplugged adapter's ENODEV is 0x0213).
#pragma once

#include "linux_config.h"
#include "ostrel_shim.h"

#include <array>
#include <string>
#include <vector>

struct gpiod_chip;
struct gpiod_line;

namespace ostrel::linuxboard {

class LinuxBackend final : public Backend {
public:
    // 1.0.0.0
    static constexpr int32_t kVersion = 0x1000;
    static constexpr int32_t kPort = 1;

    ~LinuxBackend() override { close(); }

    const char *name() const override { return "LINUX"; }
    int32_t open(int32_t port, const OstrelConnectionSettings &settings) override;
    void close() override;
    int32_t readRegister(int32_t reg, uint8_t &value) override;
    int32_t writeRegister(int32_t reg, uint8_t value) override;
    int32_t writeLine(int32_t line, uint8_t level) override;
    int32_t version() override { return kVersion; }
    // Why the last open or access failed: the device or line and the system's words for it.
    std::string lastError() const override;

    // How the board is reached, a "key: value" line each, for the tool's info: the file,
    // the device, and every mapped line. What the last open() read.
    std::string describe() const;

private:
    enum class Bus { None, Iic, Spi };

    bool openIic(int32_t address);
    bool openSpi();
    bool openLines();
    int32_t spiFrame(uint8_t first, uint8_t second, uint8_t &clockedIn);
    int32_t iicFailure(int error);
    int32_t notAddressable();

    std::string configPath_;
    std::string configError_;
    std::string example_; // the installed example, when the file is missing
    Config config_;
    bool configured_ = false;
    Bus bus_ = Bus::None;
    int fd_ = -1;
    bool addressable_ = false;
    int32_t address_ = 0;

    struct Chip {
        std::string path;
        gpiod_chip *chip = nullptr;
    };
    std::vector<Chip> chips_;
    struct Line {
        gpiod_chip *chip = nullptr; // null: the board line is not mapped
        std::string path;
        unsigned offset = 0;
        gpiod_line *requested = nullptr;
    };
    std::array<Line, OSTREL_LINE_COUNT> lines_{};
};

} // namespace ostrel::linuxboard
