// SPDX-License-Identifier: GPL-3.0-or-later
#include "filekinds.h"
#include "textfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
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

// The core's file calls on the test's Qt types.
std::optional<QString> qtReason(const std::optional<std::string> &error)
{
    if (!error)
        return std::nullopt;
    return QString::fromLocal8Bit(*error);
}

std::optional<QString> saveWholeFile(const QString &path, const QByteArray &bytes)
{
    return qtReason(evm::saveWholeFile(QFile::encodeName(path).toStdString(), bytes.toStdString()));
}

std::optional<QString> readWholeFile(const QString &path, QByteArray &bytes)
{
    std::string read = bytes.toStdString();
    const auto error = qtReason(evm::readWholeFile(QFile::encodeName(path).toStdString(), read));
    bytes = QByteArray::fromStdString(read);
    return error;
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
    void saveFollowsLinks();
    void saveKeepsModeAndOwner();
    void saveToFifoWritesDirectly();
    void saveToDeviceNodeWritesDirectly();
    void saveInPlaceWhereNoRename_data();
    void saveInPlaceWhereNoRename();
    void readNeverOpensFifo();
};

void TestTextFiles::snapshotBytes()
{
    std::array<uint8_t, 31> values{};
    for (int i = 0; i < 31; ++i)
        values[i] = uint8_t(i * 9); // 0x00, 0x09, 0x12 ... wrapping past 0xFF: leading zeros and letters both occur
    values[7] = 0x0A;
    values[30] = 0xFF;

    const QByteArray text = QByteArray::fromStdString(snapshotText(values));
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
    QCOMPARE(QByteArray::fromStdString(evm::historyText(log.toStdString())), file);
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

void TestTextFiles::saveFollowsLinks()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    const QString target = dir.filePath(QStringLiteral("sub/target.csv"));
    putFile(target, "old\r\n");
    // A relative link to a link: both stay, the file at the end gets the text.
    QCOMPARE(::symlink("sub/target.csv", QFile::encodeName(dir.filePath(QStringLiteral("first"))).constData()), 0);
    QCOMPARE(::symlink("first", QFile::encodeName(dir.filePath(QStringLiteral("second"))).constData()), 0);
    QVERIFY(!saveWholeFile(dir.filePath(QStringLiteral("second")), "new\r\n"));
    QCOMPARE(fileBytes(target), QByteArray("new\r\n"));
    QVERIFY(S_ISLNK(statOf(dir.filePath(QStringLiteral("first")), false).st_mode));
    QVERIFY(S_ISLNK(statOf(dir.filePath(QStringLiteral("second")), false).st_mode));
    QCOMPARE(QDir(dir.filePath(QStringLiteral("sub"))).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("target.csv")});

    // A dangling link: its target is created, the link stays.
    const QString dangling = dir.filePath(QStringLiteral("dangling"));
    QCOMPARE(::symlink("sub/made.csv", QFile::encodeName(dangling).constData()), 0);
    QVERIFY(!saveWholeFile(dangling, "made"));
    QCOMPARE(fileBytes(dir.filePath(QStringLiteral("sub/made.csv"))), QByteArray("made"));
    QVERIFY(S_ISLNK(statOf(dangling, false).st_mode));

    // A loop of links is an error with a reason, and nothing is made.
    const QString loop = dir.filePath(QStringLiteral("loop"));
    QCOMPARE(::symlink("loop", QFile::encodeName(loop).constData()), 0);
    const auto error = saveWholeFile(loop, "x");
    QVERIFY(error.has_value() && !error->isEmpty());
    QVERIFY(S_ISLNK(statOf(loop, false).st_mode));
}

void TestTextFiles::saveKeepsModeAndOwner()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kept.csv"));
    putFile(path, "old");
    const QByteArray name = QFile::encodeName(path);
    QCOMPARE(::chmod(name.constData(), 02640), 0);
    const bool root = geteuid() == 0;
    if (root)
        QCOMPARE(::chown(name.constData(), 1234, 2345), 0);
    QVERIFY(!saveWholeFile(path, "new contents"));
    QCOMPARE(fileBytes(path), QByteArray("new contents"));
    const struct stat st = statOf(path);
    QCOMPARE(int(st.st_mode & 07777), 02640);
    if (root) {
        QCOMPARE(int(st.st_uid), 1234);
        QCOMPARE(int(st.st_gid), 2345);
    }
    // A new file gets the usual mode of a new file.
    const mode_t mask = ::umask(022);
    QVERIFY(!saveWholeFile(dir.filePath(QStringLiteral("new.csv")), "x"));
    ::umask(mask);
    QCOMPARE(int(statOf(dir.filePath(QStringLiteral("new.csv"))).st_mode & 07777), 0644);
}

void TestTextFiles::saveToFifoWritesDirectly()
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    const QByteArray name = QFile::encodeName(fifo);
    QCOMPARE(::mkfifo(name.constData(), 0600), 0);

    // Without a reader the save fails at once instead of waiting for one.
    const auto error = saveWholeFile(fifo, "nobody");
    QVERIFY(error.has_value());
    QVERIFY2(error->contains(QLatin1String("FIFO")), qPrintable(*error));

    // With a reader the bytes go through the FIFO, through a link too, and it stays a FIFO.
    const QString link = dir.filePath(QStringLiteral("link"));
    QVERIFY(QFile::link(fifo, link));
    const int reader = ::open(name.constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);
    const QByteArray text("0x40, 0xC0\r\n0x41, 0x00\r\n");
    QVERIFY(!saveWholeFile(link, text));
    char buffer[256];
    const ssize_t n = ::read(reader, buffer, sizeof buffer);
    ::close(reader);
    QCOMPARE(QByteArray(buffer, int(qMax<ssize_t>(n, 0))), text);
    QVERIFY(S_ISFIFO(statOf(fifo, false).st_mode));
    QVERIFY(S_ISLNK(statOf(link, false).st_mode));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot).size(), 2);
}

void TestTextFiles::saveToDeviceNodeWritesDirectly()
{
    QTemporaryDir dir;
    const QString null = dir.filePath(QStringLiteral("null"));
    const QString full = dir.filePath(QStringLiteral("full"));
    if (::mknod(QFile::encodeName(null).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0
        || ::mknod(QFile::encodeName(full).constData(), S_IFCHR | 0666, makedev(1, 7)) != 0)
        QSKIP("device nodes cannot be made here");
    QVERIFY(!saveWholeFile(null, "into nothing"));
    QVERIFY(S_ISCHR(statOf(null, false).st_mode));
    // The device says why it takes nothing; it stays a device.
    const auto error = saveWholeFile(full, "no room");
    QVERIFY(error.has_value());
    QVERIFY2(error->contains(QString::fromLocal8Bit(std::strerror(ENOSPC))), qPrintable(*error));
    QVERIFY(S_ISCHR(statOf(full, false).st_mode));
    QCOMPARE(statOf(full).st_rdev, makedev(1, 7));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot).size(), 2);
}

void TestTextFiles::saveInPlaceWhereNoRename_data()
{
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<bool>("diskFull");
    QTest::newRow("read-only folder") << 0555 << false;
    QTest::newRow("sticky folder, file of another user") << 01777 << false;
    QTest::newRow("read-only folder, disk full") << 0555 << true;
}

void TestTextFiles::saveInPlaceWhereNoRename()
{
    QFETCH(int, folderMode);
    QFETCH(bool, diskFull);
    // Only a user without root's rights meets a folder that refuses the rename.
    if (geteuid() != 0)
        QSKIP("needs root to act as another user");
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("folder"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QString path = QDir(folder).filePath(QStringLiteral("shared.csv"));
    const QByteArray old(100, 'o');
    putFile(path, old);
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), 0666), 0);
    QCOMPARE(::chmod(QFile::encodeName(folder).constData(), mode_t(folderMode)), 0);
    const QByteArray text = diskFull ? QByteArray(4096, 'n') : QByteArray("new\r\n");

    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        FileSizeLimit limit(diskFull ? 64 : RLIM_INFINITY);
        ::_exit(saveWholeFile(path, text) ? 1 : 0);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), diskFull ? 1 : 0);
    QCOMPARE(fileBytes(path), diskFull ? old : text);
    const struct stat st = statOf(path);
    QCOMPARE(int(st.st_uid), 0); // written in place: still root's file
    QCOMPARE(int(st.st_mode & 0777), 0666);
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{QStringLiteral("shared.csv")});
    ::chmod(QFile::encodeName(folder).constData(), 0755);
}

void TestTextFiles::readNeverOpensFifo()
{
    QTemporaryDir dir;
    const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("fifo")));
    QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
    FifoWatch watch(QFile::decodeName(fifo));
    QByteArray bytes;
    const auto error = readWholeFile(QFile::decodeName(fifo), bytes);
    QVERIFY(!watch.openedForReading());
    QVERIFY(error.has_value());
    QVERIFY(bytes.isEmpty());
}

QTEST_GUILESS_MAIN(TestTextFiles)
#include "tst_textfiles.moc"
