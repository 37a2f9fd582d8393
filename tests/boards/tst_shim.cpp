// SPDX-License-Identifier: GPL-3.0-or-later
// The entry shim every board library is built around, in front of a backend that records
// what reaches it: the common checks in their order, what the backend is spared, the trace
// line of each entry in the trace file named after the backend and in Backend::traced().

#include "ostrel_abi.h"

#include <QFile>
#include <QLibrary>
#include <QTemporaryDir>
#include <QtTest>

namespace {
using TextFn = const char *(*)();
using SetFn = void (*)(int);
} // namespace

class TstShim : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QLibrary m_library;
    OstrelInitFn init_ = nullptr;
    OstrelCloseFn close_ = nullptr;
    OstrelDataFn read_ = nullptr;
    OstrelDataFn write_ = nullptr;
    OstrelVersionFn getVer_ = nullptr;
    TextFn calls_ = nullptr;
    TextFn traces_ = nullptr;
    SetFn setConnected_ = nullptr;
    OstrelLastErrorFn lastError_ = nullptr;
    qsizetype m_callsSeen = 0;
    qsizetype m_tracesSeen = 0;

    QString tracePath() const { return m_dir.filePath(QStringLiteral("trace.txt")); }

    // What the backend saw, and the trace lines written, since the last look.
    QStringList newCalls()
    {
        const QString all = QString::fromLatin1(calls_());
        const QStringList lines = all.mid(m_callsSeen).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        m_callsSeen = all.size();
        return lines;
    }
    QStringList newTraces()
    {
        const QString all = QString::fromLatin1(traces_());
        const QStringList lines = all.mid(m_tracesSeen).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        m_tracesSeen = all.size();
        return lines;
    }

    int32_t open(int32_t interface, int32_t address)
    {
        OstrelConnectionSettings settings{};
        settings.interfaceCode = interface;
        settings.deviceAddress = address;
        settings.word56 = 3;
        return init_(0, &settings);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // Read when the library is loaded, under the name the backend gives.
        qputenv("OSTREL_PROBE_TRACE", QFile::encodeName(tracePath()));
        m_library.setFileName(QStringLiteral(OSTREL_PROBE_PATH));
        QVERIFY2(m_library.load(), qPrintable(m_library.errorString()));
        init_ = reinterpret_cast<OstrelInitFn>(m_library.resolve("_init"));
        close_ = reinterpret_cast<OstrelCloseFn>(m_library.resolve("_close"));
        read_ = reinterpret_cast<OstrelDataFn>(m_library.resolve("_readData"));
        write_ = reinterpret_cast<OstrelDataFn>(m_library.resolve("_writeData"));
        getVer_ = reinterpret_cast<OstrelVersionFn>(m_library.resolve("_getVer"));
        calls_ = reinterpret_cast<TextFn>(m_library.resolve("shimprobe_calls"));
        traces_ = reinterpret_cast<TextFn>(m_library.resolve("shimprobe_traces"));
        setConnected_ = reinterpret_cast<SetFn>(m_library.resolve("shimprobe_set_connected"));
        lastError_ = reinterpret_cast<OstrelLastErrorFn>(m_library.resolve(OSTREL_LAST_ERROR_ENTRY));
        QVERIFY(init_ && close_ && read_ && write_ && getVer_ && calls_ && traces_ && setConnected_ && lastError_);
    }

    // One session through every check, in order; the tests share the loaded library.
    void checksAndTrace()
    {
        uint8_t buffer[OSTREL_TRANSFER_BUFFER_SIZE] = {0x55};
        QCOMPARE(read_(OSTREL_CHANNEL_CHIP, 0x46, buffer, 1), OSTREL_NOT_OPEN);
        QCOMPARE(int(buffer[0]), 0); // a failed read leaves 0
        QCOMPARE(init_(0, nullptr), 0);
        QCOMPARE(open(OSTREL_INTERFACE_SPI, 0), 0); // the backend finds no board
        buffer[0] = 1;
        QCOMPARE(write_(OSTREL_CHANNEL_LINES, 53, buffer, 1), OSTREL_NOT_OPEN);
        QCOMPARE(newCalls(), (QStringList{"open(0, 3, 0x00, 3)"}));
        QCOMPARE(newTraces(), (QStringList{"_readData(channel=0, reg=0x46) = 0x0102 value=0x00",
                                           "_init(port=0, settings=null) = 0",
                                           "_init(port=0, interface=3, address=0x00, word56=3) = 0",
                                           "_writeData(channel=7, pin=53, value=1) = 0x0102"}));

        QCOMPARE(open(OSTREL_INTERFACE_IIC, 0x45), 5);
        QCOMPARE(read_(OSTREL_CHANNEL_CHIP, 0x46, nullptr, 1), OSTREL_BAD_ARGUMENT);
        buffer[0] = 0x55;
        QCOMPARE(read_(OSTREL_CHANNEL_CHIP, 0x46, buffer, 2), OSTREL_BAD_ARGUMENT);
        QCOMPARE(int(buffer[0]), 0);
        QCOMPARE(read_(OSTREL_CHANNEL_LINES, 53, buffer, 1), OSTREL_BAD_CHANNEL);
        QCOMPARE(write_(3, 0x46, buffer, 1), OSTREL_BAD_CHANNEL);
        buffer[0] = 1;
        QCOMPARE(write_(OSTREL_CHANNEL_LINES, OSTREL_LINE_COUNT, buffer, 1), OSTREL_BAD_REGISTER);
        QCOMPARE(write_(OSTREL_CHANNEL_LINES, -1, buffer, 1), OSTREL_BAD_REGISTER);
        QCOMPARE(write_(OSTREL_CHANNEL_LINES, 3, buffer, 0), OSTREL_BAD_ARGUMENT);
        // What passes the checks reaches the backend, whose own codes and values come back.
        QCOMPARE(write_(OSTREL_CHANNEL_LINES, 63, buffer, 1), OSTREL_OK);
        QCOMPARE(read_(OSTREL_CHANNEL_CHIP, 0x46, buffer, 1), OSTREL_OK);
        QCOMPARE(int(buffer[0]), 0xB9);
        QCOMPARE(read_(OSTREL_CHANNEL_CHIP, 0x99, buffer, 1), 0x0777);
        QCOMPARE(int(buffer[0]), 0);
        buffer[0] = 0x0A;
        QCOMPARE(write_(OSTREL_CHANNEL_CHIP, 0x99, buffer, 1), 0x0777);
        QCOMPARE(getVer_(), 0x0203);
        QCOMPARE(newCalls(), (QStringList{"open(0, 1, 0x45, 3)", "line(63, 1)", "read(0x46)", "read(0x99)",
                                          "write(0x99, 0x0A)"}));
        QCOMPARE(newTraces(), (QStringList{"_init(port=0, interface=1, address=0x45, word56=3) = 5",
                                           "_readData(channel=0, reg=0x46) = 0x0003 value=none",
                                           "_readData(channel=0, reg=0x46, count=2) = 0x0003 value=0x00",
                                           "_readData(channel=7, reg=0x35) = 0x0004 value=0x00",
                                           "_writeData(channel=3, reg=0x46, value=0x00) = 0x0004",
                                           "_writeData(channel=7, pin=64, value=1) = 0x0005",
                                           "_writeData(channel=7, pin=-1, value=1) = 0x0005",
                                           "_writeData(channel=7, pin=3, value=none, count=0) = 0x0003",
                                           "_writeData(channel=7, pin=63, value=1) = 0",
                                           "_readData(channel=0, reg=0x46) = 0 value=0xB9",
                                           "_readData(channel=0, reg=0x99) = 0x0777 value=0x00",
                                           "_writeData(channel=0, reg=0x99, value=0x0A) = 0x0777",
                                           "_getVer() = 0x0203"}));

        // A lost board is refused before anything else is looked at, until it is back; the
        // backend's reason is there for the asking, whole or cut to the room given.
        QCOMPARE(lastError_(nullptr, 0), 0);
        setConnected_(0);
        QCOMPARE(read_(OSTREL_CHANNEL_CHIP, 0x46, nullptr, 7), OSTREL_NOT_OPEN);
        QCOMPARE(write_(9, 0x46, buffer, 1), OSTREL_NOT_OPEN);
        char reason[9] = "xxxxxxxx";
        QCOMPARE(lastError_(nullptr, 0), 24);
        QCOMPARE(lastError_(reason, 9), 24);
        QCOMPARE(QByteArray(reason), QByteArray("the prob"));
        setConnected_(1);
        QCOMPARE(write_(OSTREL_CHANNEL_CHIP, 0x46, buffer, 1), OSTREL_OK);
        QCOMPARE(close_(), OSTREL_OK);
        QCOMPARE(read_(OSTREL_CHANNEL_CHIP, 0x46, buffer, 1), OSTREL_NOT_OPEN);
        QCOMPARE(newCalls(), (QStringList{"write(0x46, 0x0A)", "close"}));
        QCOMPARE(newTraces(), (QStringList{"_readData(channel=0, reg=0x46, count=7) = 0x0102 value=none",
                                           "_writeData(channel=9, reg=0x46, value=0x0A) = 0x0102",
                                           "_writeData(channel=0, reg=0x46, value=0x0A) = 0",
                                           "_close() = 0",
                                           "_readData(channel=0, reg=0x46) = 0x0102 value=0x00"}));

        // The trace file holds the same lines, each flushed as it was made.
        QFile trace(tracePath());
        QVERIFY(trace.open(QIODevice::ReadOnly));
        QCOMPARE(trace.readAll(), QByteArray(traces_()));
    }

    void cleanupTestCase()
    {
        m_library.unload();
    }
};

QTEST_GUILESS_MAIN(TstShim)
#include "tst_shim.moc"
