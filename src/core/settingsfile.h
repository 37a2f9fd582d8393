#pragma once
#include <QSettings>
#include <QString>

#include <cstdint>
#include <memory>

namespace evm {

// EVM5170.ini in the user's configuration directory ($XDG_CONFIG_HOME, else ~/.config).
QString settingsFilePath();
// The settings file in INI form. Its status is not NoError when a file that exists
// cannot be read or parsed; reading never writes it.
std::unique_ptr<QSettings> openSettingsFile();

// The interface choice as the settings file gives it. Reading stops at the first
// value that is not a whole number (ok false), keeping what was read before it:
// SPI at 69 when "Type" fails; "Type" followed, 69 and item 0 when only "Addr" fails.
struct InterfaceChoice {
    int itemIndex = 1;          // 0 IIC, 1 SPI
    int32_t chosenAddress = 69; // IIC 68..71, SPI 0..3 once brought into range
    int addressItem = 0;        // item of the address box: the two low bits of the IIC address
    bool ok = true;
};
InterfaceChoice readInterfaceChoice(const QSettings *settings);

inline const QString kSettingsTypeKey = QStringLiteral("SerialInterface/Type");
inline const QString kSettingsAddrKey = QStringLiteral("SerialInterface/Addr");

} // namespace evm
