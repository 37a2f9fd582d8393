// SPDX-License-Identifier: GPL-3.0-or-later
#include "chip.h"

namespace ostrel {

namespace {

constexpr std::array<uint8_t, Chip::kRegisterCount> kPowerOn = {
    0xC0,                                           // 0x40: MRST = SRST = 1
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00,             // 0x41..0x46
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, // 0x47..0x4F: DAC attenuators at 0 dB
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // 0x50..0x57
    0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7, 0xD7,       // 0x58..0x5E: ADC attenuators at 0 dB
};

constexpr int kControl = 0x40;
constexpr uint8_t kMrst = 0x80;
constexpr uint8_t kTriggerBits = 0xC0;
constexpr int kZeroFlags = 0x45;
constexpr int kOverflowFlags = 0x56;
constexpr uint8_t kOverflowStoredBits = 0xC0;
constexpr int kFirstAdcAttenuator = 0x59;
constexpr int kAdcCount = 6;
// An ADC overflows once its attenuator asks for gain above the 0 dB code.
constexpr uint8_t kAdcUnityGain = 0xD7;
// DIN1 (line 49) feeds DAC1 and DAC2, DIN2 (48) DAC3 and DAC4, and so on down to DIN4 (46).
constexpr int kDin1Line = 49;
constexpr int kDacCount = 8;

} // namespace

void Chip::powerOn()
{
    resetRegisters();
    lines_.fill(-1);
}

void Chip::resetRegisters()
{
    regs_ = kPowerOn;
}

uint8_t Chip::read(int reg) const
{
    switch (reg) {
    case kControl:
        return stored(reg) | kTriggerBits;
    case kZeroFlags:
        return stored(reg) | zeroFlags();
    case kOverflowFlags:
        return stored(reg) | overflowFlags();
    default:
        return stored(reg);
    }
}

void Chip::write(int reg, uint8_t value)
{
    if (reg == kControl && !(value & kMrst))
        resetRegisters();
    else
        restore(reg, value);
}

void Chip::restore(int reg, uint8_t value)
{
    switch (reg) {
    case kControl:
        // SRST only restarts the serial port; the trigger bits always read back as 1.
        poke(reg, value | kTriggerBits);
        break;
    case kZeroFlags:
        break;
    case kOverflowFlags:
        poke(reg, value & kOverflowStoredBits);
        break;
    default:
        poke(reg, value);
        break;
    }
}

void Chip::driveLine(int pin, uint8_t level)
{
    // The falling edge of the reset pulse clears the registers; a line already low does nothing.
    if (pin == kHardwareResetLine && lines_[pin] > 0 && level == 0)
        resetRegisters();
    lines_[pin] = level;
}

uint8_t Chip::zeroFlags() const
{
    uint8_t flags = 0;
    for (int dac = 0; dac < kDacCount; ++dac) {
        if (lines_[kDin1Line - dac / 2] <= 0)
            flags |= uint8_t(1u << dac);
    }
    return flags;
}

uint8_t Chip::overflowFlags() const
{
    uint8_t flags = 0;
    for (int adc = 0; adc < kAdcCount; ++adc) {
        if (stored(kFirstAdcAttenuator + adc) > kAdcUnityGain)
            flags |= uint8_t(1u << adc);
    }
    return flags;
}

} // namespace ostrel
