// SPDX-License-Identifier: GPL-3.0-or-later
// The interface choice read from EVM5170.ini: the fuzz input is the file.
#include "check.h"
#include "settingsfile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

QTemporaryDir *configDir()
{
    // The program's own lookup finds the file: the configuration directory is a private one.
    static QTemporaryDir *dir = [] {
        auto *d = new QTemporaryDir;
        if (!d->isValid())
            std::abort();
        qputenv("XDG_CONFIG_HOME", d->path().toLocal8Bit());
        return d;
    }();
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    configDir();
    const QString path = QString::fromStdString(evm::settingsFilePath());
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    {
        QFile f(path);
        FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate), path);
        FUZZ_CHECK(f.write(bytes) == bytes.size(), path);
    }
    const QDateTime written = QFileInfo(path).lastModified();

    evm::InterfaceChoice c;
    {
        const std::unique_ptr<evm::SettingsFile> settings = evm::openSettingsFile();
        FUZZ_CHECK(utf8(settings->fileName()) == path, utf8(settings->fileName()));
        c = evm::readInterfaceChoice(settings.get());
    } // the settings object is gone, and with it any write it might have made

    FUZZ_CHECK(c.itemIndex == 0 || c.itemIndex == 1, QString::number(c.itemIndex));
    if (c.ok) {
        if (c.itemIndex == 0)
            FUZZ_CHECK(c.chosenAddress >= 68 && c.chosenAddress <= 71 && c.addressItem == c.chosenAddress - 68,
                       QString::number(c.chosenAddress));
        else
            FUZZ_CHECK(c.chosenAddress >= 0 && c.chosenAddress <= 3 && c.addressItem == c.chosenAddress,
                       QString::number(c.chosenAddress));
    } else {
        // A failure keeps what was read before it: the address is never half taken.
        FUZZ_CHECK(c.chosenAddress == 69 && c.addressItem == 0, QString::number(c.chosenAddress));
    }

    QFile f(path);
    FUZZ_CHECK(f.open(QIODevice::ReadOnly), path);
    FUZZ_CHECK(f.readAll() == bytes, QStringLiteral("reading changed the settings file"));
    FUZZ_CHECK(QFileInfo(path).lastModified() == written, QStringLiteral("reading touched the settings file"));
    return 0;
}
