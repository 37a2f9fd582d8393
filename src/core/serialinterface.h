// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <cstdint>

namespace evm {

// The interface choice as the window's radio group and the settings file number it: item 0
// is IIC, any other item SPI. An IIC device address is one of four; a switch to IIC, and an
// address out of range, start from the first. Before the settings are read the address is 0x45.
constexpr int IicItem = 0;
constexpr int SpiItem = 1;
constexpr int32_t FirstIicAddress = 0x44;
constexpr int32_t LastIicAddress = 0x47;
constexpr int32_t DefaultChosenAddress = 0x45;
constexpr bool isIicAddress(int64_t address) { return address >= FirstIicAddress && address <= LastIicAddress; }
// The address a switch of interface starts from: the first IIC address, or SPI's 0.
constexpr int32_t addressAfterSwitchTo(int item) { return item == IicItem ? FirstIicAddress : 0; }
// interfaceCode in the record for _init.
constexpr int32_t IicInterfaceCode = 1;
constexpr int32_t SpiInterfaceCode = 3;

} // namespace evm
