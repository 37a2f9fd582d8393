#include "settingsfile.h"
#include "inttext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace evm {

QString settingsFilePath()
{
    QString dir = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (dir.isEmpty())
        dir = QDir::home().filePath(QStringLiteral(".config"));
    return QDir(dir).filePath(QStringLiteral("EVM5170.ini"));
}

std::unique_ptr<QSettings> openSettingsFile()
{
    const QString path = settingsFilePath();
    auto settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    return settings;
}

InterfaceChoice readInterfaceChoice(const QSettings *settings)
{
    InterfaceChoice c;
    if (!settings) {
        c.ok = false;
        return c;
    }
    // QSettings parses a section only when it is first used: look at every key once so that
    // a malformed line anywhere shows in the status before anything is taken from the file.
    (void)settings->allKeys();
    if (settings->status() != QSettings::NoError) {
        c.ok = false;
        return c;
    }
    // QSettings reports a file it could not open as simply empty: tell that apart from a missing file.
    const QFileInfo file(settings->fileName());
    if (file.exists() && (!file.isFile() || !QFile(file.filePath()).open(QIODevice::ReadOnly))) {
        c.ok = false;
        return c;
    }
    const auto type = parseInteger(settings->value(kSettingsTypeKey, QString::number(c.itemIndex)).toString());
    if (!type) {
        c.ok = false;
        return c;
    }
    c.itemIndex = *type != 0 ? SpiItem : IicItem;
    const auto addr = parseInteger(settings->value(kSettingsAddrKey, QString::number(DefaultChosenAddress)).toString());
    if (!addr) {
        c.ok = false;
        return c;
    }
    c.chosenAddress = *addr;
    if (c.itemIndex == IicItem) {
        if (!isIicAddress(c.chosenAddress))
            c.chosenAddress = FirstIicAddress;
        c.addressItem = c.chosenAddress - FirstIicAddress;
    } else {
        if (c.chosenAddress < 0 || c.chosenAddress > 3)
            c.chosenAddress = 0;
        c.addressItem = c.chosenAddress;
    }
    return c;
}

bool writeSetting(std::unique_ptr<QSettings> &settings, const QString &key, const QString &value)
{
    settings->setValue(key, value);
    settings->sync();
    // Opening the file again re-reads it, or retries the write that did not get through.
    auto fresh = std::make_unique<QSettings>(settings->fileName(), settings->format());
    if (fresh->status() != QSettings::NoError || fresh->value(key).toString() != value)
        return false;
    settings = std::move(fresh);
    return true;
}

} // namespace evm
