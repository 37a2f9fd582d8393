#include "textfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace evm;

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return f.readAll();
}

void putFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

// Lowers the file size limit for as long as it lives, so every write past `limit` bytes fails
// as on a full disk (SIGXFSZ is ignored meanwhile, so the write returns an error instead).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = m_old;
        lowered.rlim_cur = limit;
        m_ok = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    bool ok() const { return m_ok; }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_ok = false;
};

} // namespace

class TestTextFiles : public QObject
{
    Q_OBJECT

private slots:
    void snapshotBytes();
    void historyText_data();
    void historyText();
    void saveCreatesAndReplaces();
    void saveFailureKeepsOldFile_data();
    void saveFailureKeepsOldFile();
    void readKeepsEveryByte();
    void readFailures_data();
    void readFailures();
};

void TestTextFiles::snapshotBytes()
{
    std::array<uint8_t, 31> values{};
    for (int i = 0; i < 31; ++i)
        values[i] = uint8_t(i * 9); // 0x00, 0x09, 0x12 ... wrapping past 0xFF: leading zeros and letters both occur
    values[7] = 0x0A;
    values[30] = 0xFF;

    const QByteArray text = snapshotText(values);
    QCOMPARE(text.size(), 372);
    const QList<QByteArray> lines = text.split('\n');
    QCOMPARE(lines.size(), 32); // 31 lines, each ending in LF, then nothing
    QVERIFY(lines.last().isEmpty());
    QCOMPARE(lines[0], QByteArray("0x40, 0x00\r"));
    QCOMPARE(lines[1], QByteArray("0x41, 0x09\r"));
    QCOMPARE(lines[2], QByteArray("0x42, 0x12\r"));
    QCOMPARE(lines[7], QByteArray("0x47, 0x0A\r"));
    QCOMPARE(lines[29], QByteArray("0x5D, 0x05\r"));
    QCOMPARE(lines[30], QByteArray("0x5E, 0xFF\r"));
    for (int i = 0; i < 31; ++i)
        QCOMPARE(lines[i].size(), 11);
    QVERIFY(!text.contains("\n\n") && text.count('\r') == 31);
}

void TestTextFiles::historyText_data()
{
    QTest::addColumn<QString>("log");
    QTest::addColumn<QByteArray>("file");

    QTest::newRow("empty log") << QString() << QByteArray();
    QTest::newRow("one line") << "0x46, 0x0A" << QByteArray("0x46, 0x0A\r\n");
    QTest::newRow("two lines") << "0x43, 0x01\n0x44, 0x01" << QByteArray("0x43, 0x01\r\n0x44, 0x01\r\n");
    QTest::newRow("final break adds no line") << "a\n" << QByteArray("a\r\n");
    QTest::newRow("empty line in the middle") << "a\n\nb" << QByteArray("a\r\n\r\nb\r\n");
    QTest::newRow("one empty line") << "\n" << QByteArray("\r\n");
    QTest::newRow("CR LF and lone CR") << "a\r\nb\rc" << QByteArray("a\r\nb\r\nc\r\n");
    QTest::newRow("typed Latin-1 stays 8-bit") << QStringLiteral("0x41, 0x12 \u00E9t\u00E9") << QByteArray("0x41, 0x12 \xE9t\xE9\r\n");
    QTest::newRow("beyond Latin-1 kept as UTF-8") << QStringLiteral("\u00E9 \u20AC") << QByteArray("\xC3\xA9 \xE2\x82\xAC\r\n");
}

void TestTextFiles::historyText()
{
    QFETCH(QString, log);
    QFETCH(QByteArray, file);
    QCOMPARE(evm::historyText(log), file);
}

void TestTextFiles::saveCreatesAndReplaces()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.csv"));
    const QByteArray first("0x41, 0x12\r\n\0\xFF", 14);
    QVERIFY(!saveWholeFile(path, first));
    QCOMPARE(fileBytes(path), first);

    QVERIFY(!saveWholeFile(path, QByteArray("x")));
    QCOMPARE(fileBytes(path), QByteArray("x")); // replaced whole, nothing of the longer old text left

    QVERIFY(!saveWholeFile(path, QByteArray()));
    QCOMPARE(QFileInfo(path).size(), 0);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("out.csv")});
}

void TestTextFiles::saveFailureKeepsOldFile_data()
{
    QTest::addColumn<QString>("relative"); // the target, inside a fresh directory that holds plain.txt and old.csv
    QTest::addColumn<bool>("diskFull");

    QTest::newRow("missing directory") << "missing/out.csv" << false;
    QTest::newRow("under a regular file") << "plain.txt/out.csv" << false;
    QTest::newRow("directory in the way") << "sub" << false;
    QTest::newRow("disk full") << "old.csv" << true;
}

void TestTextFiles::saveFailureKeepsOldFile()
{
    QFETCH(QString, relative);
    QFETCH(bool, diskFull);

    QTemporaryDir dir;
    const QByteArray plain("plain\r\n"), old("0x41, 0x12\r\n");
    putFile(dir.filePath(QStringLiteral("plain.txt")), plain);
    putFile(dir.filePath(QStringLiteral("old.csv")), old);
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

    std::optional<QString> error;
    {
        FileSizeLimit limit(diskFull ? 64 : RLIM_INFINITY);
        QVERIFY(limit.ok());
        error = saveWholeFile(dir.filePath(relative), QByteArray(4096, 'x'));
    }
    QVERIFY(error.has_value());
    QVERIFY2(!error->isEmpty() && *error != QLatin1String("Unknown error"), qPrintable(*error));

    QCOMPARE(fileBytes(dir.filePath(QStringLiteral("plain.txt"))), plain);
    QCOMPARE(fileBytes(dir.filePath(QStringLiteral("old.csv"))), old);
    // No half-written temporary file is left beside them.
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
    QVERIFY(QDir(dir.filePath(QStringLiteral("sub"))).isEmpty());
}

void TestTextFiles::readKeepsEveryByte()
{
    QTemporaryDir dir;
    QByteArray all;
    for (int c = 0; c < 256; ++c)
        all += char(c);
    const QString path = dir.filePath(QStringLiteral("all.bin"));
    putFile(path, all);
    QByteArray bytes("stale");
    QVERIFY(!readWholeFile(path, bytes));
    QCOMPARE(bytes, all);
}

void TestTextFiles::readFailures_data()
{
    QTest::addColumn<QString>("path"); // "@" stands for a fresh temporary directory

    QTest::newRow("missing") << "@/none.csv";
    QTest::newRow("directory") << "@";
    // Exists and opens, but every read fails (the first page of the address space is unmapped).
    QTest::newRow("read error") << "/proc/self/mem";
}

void TestTextFiles::readFailures()
{
    QFETCH(QString, path);
    QTemporaryDir dir;
    path.replace(QLatin1Char('@'), dir.path());
    QByteArray bytes;
    const auto error = readWholeFile(path, bytes);
    QVERIFY(error.has_value());
    QVERIFY2(!error->isEmpty(), "a failure must say why");
}

QTEST_GUILESS_MAIN(TestTextFiles)
#include "tst_textfiles.moc"
