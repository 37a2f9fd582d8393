// SPDX-License-Identifier: GPL-3.0-or-later
// The CDX5170 as the simulated board carries it: 31 registers behind the
// serial bus and the board's numbered control lines.
#pragma once

#include <array>
#include <cstdint>

namespace ostrel {

class Chip {
public:
    static constexpr int kFirstRegister = 0x40;
    static constexpr int kLastRegister = 0x5E;
    static constexpr int kRegisterCount = kLastRegister - kFirstRegister + 1;
    static constexpr int kLineCount = 64;
    static constexpr int kHardwareResetLine = 53;

    static bool isRegister(int reg) { return reg >= kFirstRegister && reg <= kLastRegister; }
    static bool isLine(int pin) { return pin >= 0 && pin < kLineCount; }

    Chip() { powerOn(); }

    // Registers at their power-on values, every line undriven (level 0).
    void powerOn();
    // What MRST and the hardware reset line do; the lines belong to the board and stay.
    void resetRegisters();

    // The byte the bus returns: 0x40 with its trigger bits set, status flags merged in.
    uint8_t read(int reg) const;
    // A bus write, with the chip's reset triggers and read-only bits.
    void write(int reg, uint8_t value);
    // What a write would keep, without firing a reset: used to restore a saved snapshot,
    // whose 0x40 may carry a cleared trigger bit and whose 0x45 and 0x56 carry flags.
    void restore(int reg, uint8_t value);
    // The stored byte, and a raw store that bypasses every rule (tests force stuck flags with it).
    uint8_t stored(int reg) const { return regs_[reg - kFirstRegister]; }
    void poke(int reg, uint8_t value) { regs_[reg - kFirstRegister] = value; }

    void driveLine(int pin, uint8_t level);
    // Last level driven, -1 while never driven since power-on.
    int line(int pin) const { return lines_[pin]; }

private:
    uint8_t zeroFlags() const;
    uint8_t overflowFlags() const;

    std::array<uint8_t, kRegisterCount> regs_{};
    std::array<int16_t, kLineCount> lines_{};
};

} // namespace ostrel
