// SPDX-License-Identifier: GPL-3.0-or-later
// Loading the board library: where it is looked for, what is refused, and the
// entries called with the record laid out as the library expects it.
#include "boardlib.h"
#include "boardsession.h"

#include <QDir>
#include <QLibrary>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using evm::BoardLibrary;

class TestBoardLib : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void loadsTheNamedLibrary();
    void missingFileCannotLoad_data();
    void missingFileCannotLoad();
    void libraryWithoutVersionIsInvalid();
    void workingDirectoryIsNeverSearched();
    void shortNamesLookBesideTheProgram_data();
    void shortNamesLookBesideTheProgram();
    void entriesAreCalledWithTheRecord();
    void unloadForgetsTheEntries();
    void callsWithoutLibraryNeverJump();

private:
    QByteArray m_oldEnv;
    QString m_oldCwd;
};

void TestBoardLib::init()
{
    m_oldEnv = qgetenv("EVM_BOARD_LIBRARY");
    m_oldCwd = QDir::currentPath();
}

void TestBoardLib::cleanup()
{
    if (m_oldEnv.isEmpty())
        qunsetenv("EVM_BOARD_LIBRARY");
    else
        qputenv("EVM_BOARD_LIBRARY", m_oldEnv);
    QDir::setCurrent(m_oldCwd);
}

void TestBoardLib::loadsTheNamedLibrary()
{
    qputenv("EVM_BOARD_LIBRARY", OSTREL_SIM_PATH);
    BoardLibrary lib;
    QCOMPARE(lib.load(), BoardLibrary::LoadStatus::Loaded);
    QVERIFY(lib.isLoaded());
    QCOMPARE(lib.getVer(), 0x1000);
}

void TestBoardLib::missingFileCannotLoad_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("no such file") << QStringLiteral("/nonexistent/libOstrel.so");
    QTest::newRow("a directory") << QDir::tempPath();
    QTest::newRow("not a library") << QStringLiteral(EVM_SOURCE_DIR "/CMakeLists.txt");
}

void TestBoardLib::missingFileCannotLoad()
{
    QFETCH(QString, name);
    qputenv("EVM_BOARD_LIBRARY", name.toLocal8Bit());
    BoardLibrary lib;
    QCOMPARE(lib.load(), BoardLibrary::LoadStatus::CannotLoad);
    QVERIFY(!lib.isLoaded());
}

void TestBoardLib::libraryWithoutVersionIsInvalid()
{
    qputenv("EVM_BOARD_LIBRARY", OSTREL_NOVER_PATH);
    BoardLibrary lib;
    QCOMPARE(lib.load(), BoardLibrary::LoadStatus::InvalidLibrary);
    QVERIFY(!lib.isLoaded());
}

void TestBoardLib::workingDirectoryIsNeverSearched()
{
    // A library planted in the working directory must not be picked up by the default search.
    // This test runs from build/tests, where no board library lies beside the executable.
    QTemporaryDir dir;
    QVERIFY(QFile::copy(QStringLiteral(OSTREL_SIM_PATH), dir.filePath(QStringLiteral("libOstrel.so"))));
    QVERIFY(QFile::copy(QStringLiteral(OSTREL_SIM_PATH), dir.filePath(QStringLiteral("Ostrel.so"))));
    QDir::setCurrent(dir.path());
    qunsetenv("EVM_BOARD_LIBRARY");
    QVERIFY(!QFile::exists(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("libOstrel.so"))));
    BoardLibrary lib;
    QCOMPARE(lib.load(), BoardLibrary::LoadStatus::CannotLoad);
    QStringList order;
    for (const std::string &place : BoardLibrary::searchOrder())
        order << QString::fromStdString(place);
    QCOMPARE(order.size(), 3);
    QCOMPARE(order[0], QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Ostrel")));
    // The installed tree's board folder, found from the executable, never from the working directory.
    QVERIFY(QDir::isAbsolutePath(order[1]));
    QVERIFY2(order[1].endsWith(QLatin1String("/evm5170/Ostrel")), qPrintable(order[1]));
    QVERIFY(!order[1].startsWith(dir.path()));
    QCOMPARE(order[2], QStringLiteral("Ostrel"));
}

void TestBoardLib::shortNamesLookBesideTheProgram_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("file");
    QTest::newRow("sim") << QStringLiteral("sim") << QStringLiteral("libOstrel.so");
    QTest::newRow("linux") << QStringLiteral("linux") << QStringLiteral("libOstrelLinux.so");
    QTest::newRow("remote") << QStringLiteral("remote") << QStringLiteral("libOstrelRemote.so");
}

void TestBoardLib::shortNamesLookBesideTheProgram()
{
    QFETCH(QString, name);
    QFETCH(QString, file);
    // Neither a file of that name nor the library in the working directory is taken.
    QTemporaryDir dir;
    QVERIFY(QFile::copy(QStringLiteral(OSTREL_SIM_PATH), dir.filePath(name)));
    QVERIFY(QFile::copy(QStringLiteral(OSTREL_SIM_PATH), dir.filePath(file)));
    QDir::setCurrent(dir.path());
    qputenv("EVM_BOARD_LIBRARY", name.toLocal8Bit());
    QCOMPARE(BoardLibrary::searchOrder(), std::vector<std::string>{QDir(QCoreApplication::applicationDirPath()).filePath(file).toStdString()});
    BoardLibrary lib;
    QCOMPARE(lib.load(), BoardLibrary::LoadStatus::CannotLoad);
}

void TestBoardLib::entriesAreCalledWithTheRecord()
{
    qputenv("EVM_BOARD_LIBRARY", OSTREL_SIM_PATH);
    BoardLibrary lib;
    QCOMPARE(lib.load(), BoardLibrary::LoadStatus::Loaded);
    QLibrary api(QStringLiteral(OSTREL_SIM_PATH));
    QVERIFY(api.load());
    auto reset = reinterpret_cast<void (*)()>(api.resolve("ostrel_sim_reset"));
    auto log = reinterpret_cast<const char *(*)()>(api.resolve("ostrel_sim_log"));
    QVERIFY(reset && log);
    reset();

    QStringList traced;
    lib.trace = [&](const std::string &line) { traced << QString::fromStdString(line); };
    evm::ConnectionSettings settings;
    settings.interfaceCode = 3;
    settings.word56 = 3;
    QCOMPARE(lib.init(0, &settings), 1);
    uint8_t buffer[evm::TransferBufferSize] = {0x0A};
    QCOMPARE(lib.writeData(evm::ChipChannel, 0x46, buffer, 1), 0);
    uint8_t in[evm::TransferBufferSize] = {};
    QCOMPARE(lib.readData(evm::ChipChannel, 0x46, in, 1), 0);
    QCOMPARE(int(in[0]), 0x0A);
    uint8_t pin[evm::TransferBufferSize] = {1};
    QCOMPARE(lib.writeData(evm::PinChannel, 53, pin, 1), 0);
    QCOMPARE(lib.close(), 0);

    const QStringList expected = {
        QStringLiteral("_init(port=0, interface=3, address=0x00, word56=3) = 1"),
        QStringLiteral("_writeData(channel=0, reg=0x46, value=0x0A) = 0"),
        QStringLiteral("_readData(channel=0, reg=0x46) = 0 value=0x0A"),
        QStringLiteral("_writeData(channel=7, pin=53, value=1) = 0"),
        QStringLiteral("_close() = 0"),
    };
    QCOMPARE(QString::fromLatin1(log()).split(QLatin1Char('\n'), Qt::SkipEmptyParts), expected);
    // The program's own trace (--trace of the tool) says the same, line for line.
    QCOMPARE(traced, expected);
}

void TestBoardLib::unloadForgetsTheEntries()
{
    qputenv("EVM_BOARD_LIBRARY", OSTREL_SIM_PATH);
    BoardLibrary lib;
    QCOMPARE(lib.load(), BoardLibrary::LoadStatus::Loaded);
    lib.unload();
    QVERIFY(!lib.isLoaded());
    QCOMPARE(lib.load(), BoardLibrary::LoadStatus::Loaded);
}

void TestBoardLib::callsWithoutLibraryNeverJump()
{
    // Never loaded, refused for a missing entry, and unloaded after use: no call reaches an
    // entry; each says "not open" (no board and no version for _init and _getVer).
    BoardLibrary never;
    BoardLibrary invalid;
    QCOMPARE(invalid.loadFile(OSTREL_NOVER_PATH), BoardLibrary::LoadStatus::InvalidLibrary);
    BoardLibrary unloaded;
    QCOMPARE(unloaded.loadFile(OSTREL_SIM_PATH), BoardLibrary::LoadStatus::Loaded);
    unloaded.unload();
    for (BoardLibrary *lib : {&never, &invalid, &unloaded}) {
        QStringList traced;
        lib->trace = [&](const std::string &line) { traced << QString::fromStdString(line); };
        evm::ConnectionSettings settings;
        uint8_t buffer[evm::TransferBufferSize] = {0x5A};
        QCOMPARE(lib->init(0, &settings), 0);
        QCOMPARE(lib->writeData(evm::ChipChannel, 0x46, buffer, 1), evm::NotOpen);
        QCOMPARE(lib->readData(evm::ChipChannel, 0x46, buffer, 1), evm::NotOpen);
        QCOMPARE(int(buffer[0]), 0x5A);
        QCOMPARE(lib->writeData(evm::PinChannel, 53, buffer, 1), evm::NotOpen);
        QCOMPARE(lib->close(), evm::NotOpen);
        QCOMPARE(lib->getVer(), 0);
        QCOMPARE(traced.size(), 6);
    }
    // A session answers as a library does, with the library's one "not open" code, before a
    // library is loaded and while the board is not open; nothing reaches the library then.
    qputenv("EVM_BOARD_LIBRARY", OSTREL_SIM_PATH);
    QStringList traced;
    evm::BoardSession session;
    for (bool loaded : {false, true}) {
        if (loaded)
            QCOMPARE(session.load(), BoardLibrary::LoadStatus::Loaded);
        session.library().trace = [&](const std::string &line) { traced << QString::fromStdString(line); };
        QCOMPARE(session.read(0x46).code, evm::NotOpen);
        QCOMPARE(session.readData(3, 0x46).code, evm::NotOpen);
        QCOMPARE(session.write(0x46, 1), evm::NotOpen);
        QCOMPARE(session.writeLine(53, 1), evm::NotOpen);
        QCOMPARE(traced, QStringList());
    }
}

QTEST_GUILESS_MAIN(TestBoardLib)
#include "tst_boardlib.moc"
