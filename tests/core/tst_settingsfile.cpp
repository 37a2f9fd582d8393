// SPDX-License-Identifier: GPL-3.0-or-later
#include "filekinds.h"
#include "settingsfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace evm;

namespace {

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &text)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(text), text.size());
}

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void filePath();
    void readChoice_data();
    void readChoice();
    void unreadableFile_data();
    void unreadableFile();
    void writeReachesFile_data();
    void writeReachesFile();
    void writeToDirectoryFails();
    void notRegularIsReadFailure_data();
    void notRegularIsReadFailure();
    void writeFollowsLinkAndKeepsSpecialFiles();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QByteArray m_oldConfig;
    QString path() const { return m_dir->filePath(QStringLiteral("EVM5170.ini")); }
};

void TestSettingsFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", m_dir->path().toLocal8Bit());
}

void TestSettingsFile::cleanup()
{
    qputenv("XDG_CONFIG_HOME", m_oldConfig);
    m_dir.reset();
}

void TestSettingsFile::filePath()
{
    QCOMPARE(QString::fromStdString(settingsFilePath()), path());

    const QByteArray oldHome = qgetenv("HOME");
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("HOME", m_dir->path().toLocal8Bit());
    const QString withoutXdg = QString::fromStdString(settingsFilePath());
    qputenv("HOME", oldHome);
    QCOMPARE(withoutXdg, QDir(m_dir->path()).filePath(QStringLiteral(".config/EVM5170.ini")));
}

void TestSettingsFile::readChoice_data()
{
    QTest::addColumn<QByteArray>("ini"); // empty: no file at all
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("itemIndex");
    QTest::addColumn<int>("chosenAddress");
    QTest::addColumn<int>("addressItem");

    // The cases a user meets at start-up are run through the windows; here the boundaries and the syntax.
    QTest::newRow("no file") << QByteArray() << true << 1 << 0 << 0;
    QTest::newRow("empty file") << QByteArray("\n") << true << 1 << 0 << 0;
    QTest::newRow("IIC $46") << QByteArray("[SerialInterface]\nType=0\nAddr=$46\n") << true << 0 << 0x46 << 2;
    QTest::newRow("IIC 0x44 lowest") << QByteArray("[SerialInterface]\nType=0\nAddr=0x44\n") << true << 0 << 0x44 << 0;
    QTest::newRow("IIC 0x43 below") << QByteArray("[SerialInterface]\nType=0\nAddr=0x43\n") << true << 0 << 0x44 << 0;
    QTest::newRow("IIC 0x48 above") << QByteArray("[SerialInterface]\nType=0\nAddr=0x48\n") << true << 0 << 0x44 << 0;
    QTest::newRow("IIC negative") << QByteArray("[SerialInterface]\nType=0\nAddr=-1\n") << true << 0 << 0x44 << 0;
    QTest::newRow("SPI 3 highest") << QByteArray("[SerialInterface]\nType=1\nAddr=3\n") << true << 1 << 3 << 3;
    QTest::newRow("SPI 4 above") << QByteArray("[SerialInterface]\nType=1\nAddr=4\n") << true << 1 << 0 << 0;
    QTest::newRow("SPI -1 below") << QByteArray("[SerialInterface]\nType=1\nAddr=-1\n") << true << 1 << 0 << 0;
    QTest::newRow("any other Type is SPI") << QByteArray("[SerialInterface]\nType=-7\nAddr=2\n") << true << 1 << 2 << 2;
    QTest::newRow("hex Type 0x0 is IIC") << QByteArray("[SerialInterface]\nType=0x0\nAddr=0x46\n") << true << 0 << 0x46 << 2;
    QTest::newRow("only Addr") << QByteArray("[SerialInterface]\nAddr=2\n") << true << 1 << 2 << 2;
    QTest::newRow("other section only") << QByteArray("[Other]\nType=0\nAddr=0x47\n") << true << 1 << 0 << 0;
    // Keys are spelt exactly as the program writes them.
    QTest::newRow("lower-case keys") << QByteArray("[SerialInterface]\ntype=0\naddr=0x47\n") << true << 1 << 0 << 0;
    QTest::newRow("CR LF lines") << QByteArray("[SerialInterface]\r\nType=0\r\nAddr=0x46\r\n") << true << 0 << 0x46 << 2;

    // A failure keeps what was read before it: SPI at 69 when Type fails, Type and 69 when Addr fails.
    QTest::newRow("Type empty") << QByteArray("[SerialInterface]\nType=\nAddr=0x47\n") << false << 1 << 69 << 0;
    QTest::newRow("Type trailing text") << QByteArray("[SerialInterface]\nType=0 IIC\n") << false << 1 << 69 << 0;
    QTest::newRow("Type a list") << QByteArray("[SerialInterface]\nType=0,1\n") << false << 1 << 69 << 0;
    QTest::newRow("Type too large") << QByteArray("[SerialInterface]\nType=99999999999\n") << false << 1 << 69 << 0;
    QTest::newRow("Addr letters on IIC") << QByteArray("[SerialInterface]\nType=0\nAddr=zz\n") << false << 0 << 69 << 0;
    QTest::newRow("Addr empty on SPI") << QByteArray("[SerialInterface]\nType=1\nAddr=\n") << false << 1 << 69 << 0;
    QTest::newRow("Addr 0x with no digits") << QByteArray("[SerialInterface]\nType=0\nAddr=0x\n") << false << 0 << 69 << 0;
}

void TestSettingsFile::readChoice()
{
    QFETCH(QByteArray, ini);
    QFETCH(bool, ok);
    QFETCH(int, itemIndex);
    QFETCH(int, chosenAddress);
    QFETCH(int, addressItem);

    if (!ini.isEmpty())
        writeFile(path(), ini);
    {
        const auto settings = openSettingsFile();
        QCOMPARE(QString::fromStdString(settings->fileName()), path());
        const InterfaceChoice c = readInterfaceChoice(settings.get());
        QCOMPARE(c.ok, ok);
        QCOMPARE(c.itemIndex, itemIndex);
        QCOMPARE(c.chosenAddress, chosenAddress);
        QCOMPARE(c.addressItem, addressItem);
    }
    // Reading, corrected values included, never writes: a missing file stays missing.
    QCOMPARE(QFile::exists(path()), !ini.isEmpty());
    if (!ini.isEmpty())
        QCOMPARE(contents(path()), ini);
}

void TestSettingsFile::unreadableFile_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<bool>("noPermission");

    QTest::newRow("section without its bracket") << QByteArray("[SerialInterface\nType=0\nAddr=0x47\n") << false;
    QTest::newRow("stray line in the section") << QByteArray("[SerialInterface]\nType=0\nAddr=0x47\nIIC\n") << false;
    QTest::newRow("stray line in another section") << QByteArray("[Other]\nnonsense\n[SerialInterface]\nType=0\n") << false;
    QTest::newRow("no permission") << QByteArray("[SerialInterface]\nType=0\nAddr=0x47\n") << true;
}

void TestSettingsFile::unreadableFile()
{
    QFETCH(QByteArray, ini);
    QFETCH(bool, noPermission);

    if (noPermission && geteuid() == 0)
        QSKIP("root reads a file whatever its permissions");
    writeFile(path(), ini);
    if (noPermission)
        QVERIFY(QFile::setPermissions(path(), {}));
    {
        const auto settings = openSettingsFile();
        const InterfaceChoice c = readInterfaceChoice(settings.get());
        QVERIFY(!c.ok);
        QCOMPARE(c.itemIndex, 1);
        QCOMPARE(c.chosenAddress, 69);
        QCOMPARE(c.addressItem, 0);
    }
    if (noPermission)
        QVERIFY(QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner));
    QCOMPARE(contents(path()), ini);
}

void TestSettingsFile::writeReachesFile_data()
{
    QTest::addColumn<QByteArray>("ini"); // empty: no file at all

    QTest::newRow("no file") << QByteArray();
    QTest::newRow("good file") << QByteArray("[SerialInterface]\nType=1\nAddr=0x00\n");
    // Both of these leave QSettings reporting a format error however well the write goes.
    QTest::newRow("malformed section line") << QByteArray("[SerialInterface\nType=1\n");
    QTest::newRow("stray line") << QByteArray("[SerialInterface]\nType=1\nIIC\n");
}

void TestSettingsFile::writeReachesFile()
{
    QFETCH(QByteArray, ini);

    if (!ini.isEmpty())
        writeFile(path(), ini);
    auto settings = openSettingsFile();
    readInterfaceChoice(settings.get());
    QVERIFY(writeSetting(settings, kSettingsTypeKey, "0"));
    QVERIFY(writeSetting(settings, kSettingsAddrKey, "0x44"));
    QVERIFY(settings->readable());
    if (ini.isEmpty()) // the form QSettings gives it, as the program has always written it
        QCOMPARE(contents(path()), QByteArray("[SerialInterface]\nAddr=0x44\nType=0\n"));

    const QList<QByteArray> lines = contents(path()).split('\n');
    QVERIFY(lines.contains("[SerialInterface]"));
    QVERIFY(lines.contains("Type=0"));
    QVERIFY(lines.contains("Addr=0x44"));
    settings.reset();

    const auto again = openSettingsFile();
    const InterfaceChoice c = readInterfaceChoice(again.get());
    QVERIFY(c.ok);
    QCOMPARE(c.itemIndex, 0);
    QCOMPARE(c.chosenAddress, 0x44);
}

void TestSettingsFile::writeToDirectoryFails()
{
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("EVM5170.ini")));
    auto settings = openSettingsFile();
    QVERIFY(!readInterfaceChoice(settings.get()).ok);
    QVERIFY(!writeSetting(settings, kSettingsTypeKey, "0"));
    QVERIFY(!writeSetting(settings, kSettingsAddrKey, "0x44"));
    QVERIFY(QFileInfo(path()).isDir());
}

void TestSettingsFile::notRegularIsReadFailure_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("FIFO through a link") << "fifo-link";
    QTest::newRow("device") << "device";
    QTest::newRow("folder") << "folder";
}

void TestSettingsFile::notRegularIsReadFailure()
{
    QFETCH(QString, kind);
    const QByteArray name = QFile::encodeName(path());
    const QByteArray fifo = QFile::encodeName(m_dir->filePath(QStringLiteral("fifo")));
    if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(name.constData(), 0600), 0);
    else if (kind == QLatin1String("fifo-link"))
        QVERIFY(::mkfifo(fifo.constData(), 0600) == 0 && ::symlink(fifo.constData(), name.constData()) == 0);
    else if (kind == QLatin1String("device"))
        QVERIFY(::symlink("/dev/zero", name.constData()) == 0);
    else
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("EVM5170.ini")));

    // A FIFO opened for reading would wait for a writer: the watch is that writer.
    FifoWatch watch(QFile::decodeName(kind == QLatin1String("fifo-link") ? fifo : name));
    const auto settings = openSettingsFile();
    const InterfaceChoice c = readInterfaceChoice(settings.get());
    QVERIFY(!watch.openedForReading());
    QVERIFY(!c.ok);
    QCOMPARE(c.itemIndex, 1);
    QCOMPARE(c.chosenAddress, 69);
}

void TestSettingsFile::writeFollowsLinkAndKeepsSpecialFiles()
{
    // A link to a regular file: the file gets the text, the link stays a link.
    const QString real = m_dir->filePath(QStringLiteral("real.ini"));
    writeFile(real, "[Other]\nKeep=1\n");
    QVERIFY(QFile::link(real, path()));
    auto settings = openSettingsFile();
    QVERIFY(readInterfaceChoice(settings.get()).ok);
    QVERIFY(writeSetting(settings, kSettingsTypeKey, "0"));
    QVERIFY(QFileInfo(path()).isSymLink());
    QCOMPARE(contents(real), QByteArray("[Other]\nKeep=1\n\n[SerialInterface]\nType=0\n"));

    // A link to a device: written to, never replaced.
    QVERIFY(QFile::remove(path()));
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), path()));
    settings = openSettingsFile();
    QVERIFY(!readInterfaceChoice(settings.get()).ok);
    QVERIFY(writeSetting(settings, kSettingsAddrKey, "0x44"));
    struct stat st;
    QCOMPARE(::stat("/dev/null", &st), 0);
    QVERIFY(S_ISCHR(st.st_mode));
    QVERIFY(QFileInfo(path()).isSymLink());

    // A FIFO without a reader: the write fails at once, saying why, and the FIFO stays.
    QVERIFY(QFile::remove(path()));
    QCOMPARE(::mkfifo(QFile::encodeName(path()).constData(), 0600), 0);
    settings = openSettingsFile();
    const auto error = settings->write(kSettingsTypeKey, "1");
    QVERIFY(error.has_value());
    QVERIFY2(error->find("FIFO") != std::string::npos, error->c_str());
    QCOMPARE(::lstat(QFile::encodeName(path()).constData(), &st), 0);
    QVERIFY(S_ISFIFO(st.st_mode));
}

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
