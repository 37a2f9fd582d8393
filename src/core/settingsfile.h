#pragma once
#include <QByteArray>
#include <QString>

#include "serialinterface.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace evm {

// EVM5170.ini in the user's configuration directory ($XDG_CONFIG_HOME, else ~/.config).
QString settingsFilePath();

// The settings file in INI form. It is read once, when it is opened, and only if it is a
// regular file (a FIFO, a device or a folder is a read failure, never opened, so reading
// never blocks); reading never writes it. Each value set is written through at once, by the
// one writer every file of the program goes through, in the form QSettings gives it.
class SettingsFile
{
public:
    explicit SettingsFile(const QString &path);

    QString fileName() const { return m_path; }
    // The file's text as read, and whether it could be read (a missing file reads as empty).
    const QByteArray &text() const { return m_text; }
    bool readable() const { return m_readable; }

    // Sets one value and writes the file; the reason on failure. The file as it is now is the
    // base, so other keys and sections, and changes made meanwhile by others, stay.
    std::optional<QString> write(const QString &key, const QString &value);

private:
    QString m_path;
    QByteArray m_text;
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

// Writes one value through to the file; false when it did not reach the file.
bool writeSetting(std::unique_ptr<SettingsFile> &settings, const QString &key, const QString &value);

inline const QString kSettingsTypeKey = QStringLiteral("SerialInterface/Type");
inline const QString kSettingsAddrKey = QStringLiteral("SerialInterface/Addr");

} // namespace evm
