#include "settingsfile.h"
#include "inttext.h"
#include "textfiles.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <cerrno>

#include <sys/stat.h>

namespace evm {

namespace {

// QSettings reads and writes only a private copy of the text: it never opens the real file,
// which may be a FIFO or a device, and never replaces it.
class PrivateCopy
{
public:
    explicit PrivateCopy(const QByteArray &text)
    {
        m_ok = m_dir.isValid() && !saveWholeFile(path(), text);
    }
    bool ok() const { return m_ok; }
    QString path() const { return m_dir.filePath(QStringLiteral("EVM5170.ini")); }

private:
    QTemporaryDir m_dir;
    bool m_ok = false;
};

// Missing reads as empty; anything but a regular file that can be read is a failure.
bool readSettingsText(const QString &path, QByteArray &text)
{
    text.clear();
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT;
    return !readWholeFile(path, text);
}

} // namespace

QString settingsFilePath()
{
    QString dir = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (dir.isEmpty())
        dir = QDir::home().filePath(QStringLiteral(".config"));
    return QDir(dir).filePath(QStringLiteral("EVM5170.ini"));
}

SettingsFile::SettingsFile(const QString &path) : m_path(path)
{
    m_readable = readSettingsText(m_path, m_text);
}

std::unique_ptr<SettingsFile> openSettingsFile()
{
    return std::make_unique<SettingsFile>(settingsFilePath());
}

std::optional<QString> SettingsFile::write(const QString &key, const QString &value)
{
    // A file that cannot be read as text (a device, a FIFO) takes what this object last held.
    QByteArray base;
    if (!readSettingsText(m_path, base)) {
        struct stat st;
        if (::stat(QFile::encodeName(m_path).constData(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
            QByteArray ignored;
            return readWholeFile(m_path, ignored).value_or(QStringLiteral("cannot be read"));
        }
        base = m_text;
    }
    const PrivateCopy copy(base);
    if (!copy.ok())
        return QStringLiteral("no room for a temporary copy");
    {
        QSettings settings(copy.path(), QSettings::IniFormat);
        settings.setValue(key, value);
        settings.sync();
    }
    // QSettings keeps the first error it met (a malformed line of the old text) whatever the
    // write did: a fresh object on what was written tells whether the value is there.
    {
        const QSettings check(copy.path(), QSettings::IniFormat);
        if (check.status() != QSettings::NoError || check.value(key).toString() != value)
            return QStringLiteral("the settings could not be written");
    }
    QByteArray text;
    if (const auto error = readWholeFile(copy.path(), text))
        return error;
    if (const auto error = saveWholeFile(m_path, text))
        return error;
    m_text = text;
    m_readable = true;
    return std::nullopt;
}

InterfaceChoice readInterfaceChoice(const SettingsFile *file)
{
    InterfaceChoice c;
    if (!file || !file->readable()) {
        c.ok = false;
        return c;
    }
    const PrivateCopy copy(file->text());
    if (!copy.ok()) {
        c.ok = false;
        return c;
    }
    const QSettings settings(copy.path(), QSettings::IniFormat);
    // QSettings parses a section only when it is first used: look at every key once so that
    // a malformed line anywhere shows in the status before anything is taken from the file.
    (void)settings.allKeys();
    if (settings.status() != QSettings::NoError) {
        c.ok = false;
        return c;
    }
    const auto type = parseInteger(settings.value(kSettingsTypeKey, QString::number(c.itemIndex)).toString());
    if (!type) {
        c.ok = false;
        return c;
    }
    c.itemIndex = *type != 0 ? SpiItem : IicItem;
    const auto addr = parseInteger(settings.value(kSettingsAddrKey, QString::number(DefaultChosenAddress)).toString());
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

bool writeSetting(std::unique_ptr<SettingsFile> &settings, const QString &key, const QString &value)
{
    return settings && !settings->write(key, value);
}

} // namespace evm
