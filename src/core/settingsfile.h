// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "boardlib.h"
#include "serialinterface.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace evm {

// EVM5170.ini in the user's configuration directory ($XDG_CONFIG_HOME, else ~/.config; on Windows
// %APPDATA%, else the profile's AppData\Roaming, else none).
std::string settingsFilePath();

// The settings file in INI form (ini.h). It is read once, when it is opened, and only if it is
// a regular file (a FIFO, a device or a folder is a read failure, never opened, so reading
// never blocks); reading never writes it. Each value set is written through at once, by the
// one writer every file of the program goes through, the whole file in the one form the INI
// rules give it.
class SettingsFile
{
public:
    explicit SettingsFile(std::string path);

    const std::string &fileName() const { return m_path; }
    // The file's text as read, and whether it could be read (a missing file reads as empty).
    const std::string &text() const { return m_text; }
    bool readable() const { return m_readable; }

    // Sets one value and writes the file; the reason on failure. The file as it is now is the
    // base, so other keys and sections, and changes made meanwhile by others, stay.
    std::optional<std::string> write(std::string_view key, std::string_view value);

private:
    std::string m_path;
    std::string m_text;
    bool m_readable = true;
};

std::unique_ptr<SettingsFile> openSettingsFile();

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
InterfaceChoice readInterfaceChoice(const SettingsFile *settings);

// The interface a front end without the window's controls (the tool, and the server it runs)
// opens the board on: an address given is IIC at that address, SPI asked for is SPI, and what
// the options leave open comes from the settings file, which is read only then. IIC asked for
// with the file on SPI takes the first IIC address, as a switch to IIC in the window does.
struct InterfaceOptions {
    std::optional<int> item;        // IicItem or SpiItem
    std::optional<int32_t> address; // an IIC address, 0x44..0x47
};
struct InterfaceOutcome {
    ConnectionSettings settings;
    bool fileFailed = false; // the settings file was read and could not be; settings go on without it
};
InterfaceOutcome interfaceFromOptions(const InterfaceOptions &options);

// Writes one value through to the file; false when it did not reach the file.
bool writeSetting(std::unique_ptr<SettingsFile> &settings, std::string_view key, std::string_view value);

inline constexpr std::string_view kSettingsTypeKey = "SerialInterface/Type";
inline constexpr std::string_view kSettingsAddrKey = "SerialInterface/Addr";

// The window's automatic read of the chip: its interval in milliseconds, [View] AutoReadMs.
// A value that is not a whole number (or no file) gives the default; one outside the range is
// brought into it: a bus read every few milliseconds would leave the window no time of its own.
inline constexpr std::string_view kSettingsAutoReadKey = "View/AutoReadMs";
inline constexpr int DefaultAutoReadMs = 500;
inline constexpr int MinAutoReadMs = 20;
inline constexpr int MaxAutoReadMs = 60000;
int readAutoReadInterval(const SettingsFile *settings);

} // namespace evm
