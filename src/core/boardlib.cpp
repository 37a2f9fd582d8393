#include "boardlib.h"
#include "inttext.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace evm {

namespace {
constexpr char kBaseName[] = "Ostrel";

// QLibrary resolves a base name to the platform's file name (libOstrel.so, Ostrel.dll).
bool existsAsLibrary(const QString &dir)
{
    for (const QString &candidate : {QStringLiteral("lib%1.so").arg(kBaseName), QStringLiteral("%1.dll").arg(kBaseName),
                                     QStringLiteral("lib%1.dylib").arg(kBaseName)})
        if (QFileInfo(QDir(dir).filePath(candidate)).isFile())
            return true;
    return false;
}

// Installed, the board libraries lie in a folder of the program's own (lib/evm5170 under the
// prefix), found from the executable's folder, so an installed tree works wherever it is put.
#ifndef EVM_BOARD_DIR_FROM_BIN
#define EVM_BOARD_DIR_FROM_BIN "../lib/evm5170"
#endif
QString installedBoardDir()
{
    return QDir::cleanPath(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral(EVM_BOARD_DIR_FROM_BIN)));
}

// EVM_BOARD_LIBRARY: a file, or the short name of a board library that ships beside the program.
QString libraryFromEnvironment()
{
    const QString env = qEnvironmentVariable("EVM_BOARD_LIBRARY");
    static const struct {
        const char *shortName;
        const char *baseName;
    } kShortNames[] = {{"sim", "Ostrel"}, {"linux", "OstrelLinux"}, {"remote", "OstrelRemote"}};
    for (const auto &s : kShortNames) {
        if (env != QLatin1String(s.shortName) || !QCoreApplication::instance())
            continue;
#ifdef Q_OS_WIN
        const QString file = QStringLiteral("%1.dll").arg(QLatin1String(s.baseName));
#else
        const QString file = QStringLiteral("lib%1.so").arg(QLatin1String(s.baseName));
#endif
        // Beside the program in a build tree, in the program's own folder once installed.
        const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(file);
        const QString installed = QDir(installedBoardDir()).filePath(file);
        return QFileInfo::exists(beside) || !QFileInfo::exists(installed) ? beside : installed;
    }
    return env;
}

} // namespace

QStringList BoardLibrary::searchOrder()
{
    const QString env = libraryFromEnvironment();
    if (!env.isEmpty())
        return {env};
    QStringList order;
    if (QCoreApplication::instance()) {
        order << QDir(QCoreApplication::applicationDirPath()).filePath(QLatin1String(kBaseName));
        order << QDir(installedBoardDir()).filePath(QLatin1String(kBaseName));
    }
    order << QLatin1String(kBaseName); // the dynamic loader's own search: no working directory
    return order;
}

BoardLibrary::LoadStatus BoardLibrary::load()
{
    const QString env = libraryFromEnvironment();
    if (!env.isEmpty()) {
        // A name that is not a file must not fall through to a search.
        if (!QFileInfo(env).isFile()) {
            m_error = QStringLiteral("%1: no such file").arg(env);
            return LoadStatus::CannotLoad;
        }
        return loadFile(QFileInfo(env).absoluteFilePath());
    }
    if (QCoreApplication::instance()) {
        for (const QString &dir : {QCoreApplication::applicationDirPath(), installedBoardDir()})
            if (existsAsLibrary(dir))
                return loadFile(QDir(dir).filePath(QLatin1String(kBaseName)));
    }
    return loadFile(QLatin1String(kBaseName));
}

BoardLibrary::LoadStatus BoardLibrary::loadFile(const QString &path)
{
    unload();
    m_lib.setFileName(path);
    if (!m_lib.load()) {
        m_error = m_lib.errorString();
        return LoadStatus::CannotLoad;
    }
    return resolveEntries();
}

BoardLibrary::LoadStatus BoardLibrary::resolveEntries()
{
    auto init = reinterpret_cast<InitFn>(m_lib.resolve("_init"));
    auto close = reinterpret_cast<CloseFn>(m_lib.resolve("_close"));
    auto read = reinterpret_cast<DataFn>(m_lib.resolve("_readData"));
    auto write = reinterpret_cast<DataFn>(m_lib.resolve("_writeData"));
    auto getVer = reinterpret_cast<VersionFn>(m_lib.resolve("_getVer"));
    if (!init || !close || !read || !write || !getVer) {
        m_error = QStringLiteral("%1 lacks a board-access entry").arg(m_lib.fileName());
        m_lib.unload();
        return LoadStatus::InvalidLibrary;
    }
    m_init = init;
    m_close = close;
    m_read = read;
    m_write = write;
    m_getVer = getVer;
    m_describe = reinterpret_cast<OstrelDescribeFn>(m_lib.resolve(OSTREL_DESCRIBE_ENTRY));
    m_lastError = reinterpret_cast<OstrelLastErrorFn>(m_lib.resolve(OSTREL_LAST_ERROR_ENTRY));
    return LoadStatus::Loaded;
}

void BoardLibrary::unload()
{
    if (!m_init)
        return;
    m_init = nullptr;
    m_close = nullptr;
    m_read = nullptr;
    m_write = nullptr;
    m_getVer = nullptr;
    m_describe = nullptr;
    m_lastError = nullptr;
    m_lib.unload();
}

int32_t BoardLibrary::init(int32_t port, ConnectionSettings *settings)
{
    const int32_t r = m_init ? m_init(port, settings) : 0;
    if (trace)
        trace(QStringLiteral("_init(port=%1, interface=%2, address=0x%3, word56=%4) = %5")
                  .arg(port).arg(settings->interfaceCode).arg(hexText(settings->deviceAddress, 2))
                  .arg(settings->word56).arg(r));
    return r;
}

int32_t BoardLibrary::close()
{
    const int32_t r = m_close ? m_close() : NotOpen;
    if (trace)
        trace(QStringLiteral("_close() = %1").arg(r));
    return r;
}

int32_t BoardLibrary::readData(int32_t channel, int32_t reg, uint8_t *buffer, int32_t count)
{
    const int32_t r = m_read ? m_read(channel, reg, buffer, count) : NotOpen;
    if (trace)
        trace(QStringLiteral("_readData(channel=%1, reg=0x%2) = %3 value=0x%4")
                  .arg(channel).arg(hexText(reg, 2)).arg(r == 0 ? QStringLiteral("0") : QStringLiteral("0x") + hexText(r, 4))
                  .arg(hexText(buffer[0], 2)));
    return r;
}

int32_t BoardLibrary::writeData(int32_t channel, int32_t reg, uint8_t *buffer, int32_t count)
{
    const int32_t r = m_write ? m_write(channel, reg, buffer, count) : NotOpen;
    if (trace) {
        const QString result = r == 0 ? QStringLiteral("0") : QStringLiteral("0x") + hexText(r, 4);
        if (channel == PinChannel)
            trace(QStringLiteral("_writeData(channel=7, pin=%1, value=%2) = %3").arg(reg).arg(buffer[0]).arg(result));
        else
            trace(QStringLiteral("_writeData(channel=%1, reg=0x%2, value=0x%3) = %4")
                      .arg(channel).arg(hexText(reg, 2)).arg(hexText(buffer[0], 2)).arg(result));
    }
    return r;
}

int32_t BoardLibrary::getVer()
{
    const int32_t r = m_getVer ? m_getVer() : 0;
    if (trace)
        trace(QStringLiteral("_getVer() = 0x%1").arg(hexText(r, 4)));
    return r;
}

QByteArray BoardLibrary::describe()
{
    const int32_t length = m_describe ? m_describe(nullptr, 0) : -1;
    if (length <= 0 || length >= 65536)
        return {};
    QByteArray text(length + 1, '\0');
    m_describe(text.data(), int32_t(text.size()));
    text.truncate(qstrnlen(text.constData(), text.size()));
    return text;
}

std::string BoardLibrary::lastError()
{
    const int32_t length = m_lastError ? m_lastError(nullptr, 0) : -1;
    if (length <= 0)
        return {};
    // A reason is a line for a message box: a longer one is cut, not refused.
    std::string text(size_t(std::min(length, int32_t(1023))) + 1, '\0');
    m_lastError(text.data(), int32_t(text.size()));
    text.resize(std::char_traits<char>::length(text.c_str()));
    return text;
}

} // namespace evm
