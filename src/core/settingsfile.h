#pragma once
#include <QSettings>
#include <QString>

#include "serialinterface.h"

#include <cstdint>
#include <memory>

namespace evm {

// EVM5170.ini in the user's configuration directory ($XDG_CONFIG_HOME, else ~/.config).
QString settingsFilePath();
// The settings file in INI form. Opening and reading it never write it.
std::unique_ptr<QSettings> openSettingsFile();

// The interface choice as the settings file gives it. A file that exists but cannot be
// read or parsed is a failure (ok false) before any value is taken. Reading stops at the first
// value that is not a whole number (ok false), keeping what was read before it:
// SPI at 69 when "Type" fails; "Type" followed, 69 and item 0 when only "Addr" fails.
struct InterfaceChoice {
    int itemIndex = SpiItem;                      // 0 IIC, 1 SPI
    int32_t chosenAddress = DefaultChosenAddress; // IIC 68..71, SPI 0..3 once brought into range
    int addressItem = 0;        // item of the address box: the two low bits of the IIC address
    bool ok = true;
};
InterfaceChoice readInterfaceChoice(const QSettings *settings);

// Writes one value and flushes it; false when it did not reach the file. QSettings keeps
// the first error it met for good (and finds some format errors only when a write re-reads
// the file), so its status does not tell how this write went: a fresh object on the same
// file does, and on success it takes the old one's place, clean.
bool writeSetting(std::unique_ptr<QSettings> &settings, const QString &key, const QString &value);

inline const QString kSettingsTypeKey = QStringLiteral("SerialInterface/Type");
inline const QString kSettingsAddrKey = QStringLiteral("SerialInterface/Addr");

} // namespace evm
