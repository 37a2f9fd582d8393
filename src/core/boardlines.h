// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <cstdint>

// The board's control lines (channel 7 of the board library) by what they drive, and their
// levels at start-up. What a line does on the board lies outside the program; it only
// drives these levels.
namespace evm {

namespace BoardLine {
// Set once at start-up and at Reconnect.
constexpr int32_t Setup0 = 0;
constexpr int32_t Setup4 = 4;
constexpr int32_t SetupPort1 = 11; // 11 to 15, a byte 0x55 each
constexpr int32_t SetupPort5 = 15;
constexpr uint8_t SetupPortLevel = 0x55;
// DAC input data from the board's receiver, one line a DIN pair; DIN1 is the highest.
constexpr int32_t DinSelect4 = 46;
constexpr int32_t DinSelect3 = 47;
constexpr int32_t DinSelect2 = 48;
constexpr int32_t DinSelect1 = 49;
// ADC output data to the board's transmitter: the two bits of 3 minus the DOUT item.
constexpr int32_t DoutSelectBit0 = 50;
constexpr int32_t DoutSelectBit1 = 51;
// High while the converter is the slave of its audio interface.
constexpr int32_t AdcSlave = 52;
constexpr int32_t AdcSlave2 = 54;
constexpr int32_t DacSlave = 55;
// The chip's hardware reset: a pulse to 0 resets it.
constexpr int32_t HardwareReset = 53;

// The select line of DIN1 to DIN4 (index 0 to 3).
constexpr int32_t dinSelect(int index) { return DinSelect1 - index; }
} // namespace BoardLine

// The lines driven at start-up and at Reconnect, in this order. A row whose level is
// FromControl takes the level that the control driving the line gives it as it stands.
// Start-up then drives the DOUT lines from their radio group; Reconnect leaves them.
struct StartupLine {
    int32_t line;
    int level;
};
constexpr int FromControl = -1;
inline constexpr StartupLine kStartupLines[] = {
    {BoardLine::Setup0, 0},
    {BoardLine::Setup4, 1},
    {BoardLine::SetupPort1, BoardLine::SetupPortLevel},
    {BoardLine::SetupPort1 + 1, BoardLine::SetupPortLevel},
    {BoardLine::SetupPort1 + 2, BoardLine::SetupPortLevel},
    {BoardLine::SetupPort1 + 3, BoardLine::SetupPortLevel},
    {BoardLine::SetupPort5, BoardLine::SetupPortLevel},
    {BoardLine::HardwareReset, 1},
    {BoardLine::DacSlave, FromControl},
    {BoardLine::AdcSlave, FromControl},
    {BoardLine::AdcSlave2, FromControl},
    {BoardLine::DinSelect1, FromControl},
    {BoardLine::DinSelect2, FromControl},
    {BoardLine::DinSelect3, FromControl},
    {BoardLine::DinSelect4, FromControl},
};

} // namespace evm
