// SPDX-License-Identifier: GPL-3.0-or-later
// Register scripts, the start-up script, the register snapshot and the history files,
// driven through the real windows against the simulated board.
#include "fixture.h"
#include "uitest.h"

#include "main.h"
#include "scriptprogress.h"
#include "splash.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSlider>
#include <QTextCursor>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {

const QString kScriptCaption = QStringLiteral("Script file error");
const QString kSleepMsg = QStringLiteral("Invalid sleep time.");
const QString kRecordMsg = QStringLiteral("Invalid record was found on the Register setting file.");
const QString kDataMsg = QStringLiteral("Invalid register data!");
const QString kOverwriteText = QStringLiteral("The file you specified is already exists.\nAre you sure you want to save?");

// One register write as the simulator logs it; the simulated chip answers a register it lacks with code 5.
QString wr(int reg, int value, const char *result = "0")
{
    return QString::asprintf("_writeData(channel=0, reg=0x%02X, value=0x%02X) = %s", reg, value, result);
}

QStringList chipWrites(AppFixture &fx)
{
    return fx.sim.log(QStringLiteral("_writeData(channel=0"));
}

bool putFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The program started against a board, with the start-up's calls and messages forgotten.
void start(AppFixture &fx)
{
    fx.create();
    fx.show();
    fx.seam.clear();
    fx.sim.clearLog();
}

QPlainTextEdit *memo(AppFixture &fx)
{
    return fx.find<QPlainTextEdit>(QStringLiteral("Memo1"));
}

void trigger(AppFixture &fx, const char *action)
{
    QAction *a = fx.form->findChild<QAction *>(QLatin1String(action));
    QVERIFY2(a, action);
    a->trigger();
}

void clickPicture(AppFixture &fx, const char *name)
{
    QLabel *picture = fx.find<QLabel>(QLatin1String(name));
    QVERIFY2(picture && picture->isVisible(), name);
    QTest::mouseClick(picture, Qt::LeftButton);
}

// The snapshot line of one register, built here without the program's formatter.
QByteArray snapshotLine(int reg, int value)
{
    return QString::asprintf("0x%02X, 0x%02X\r\n", reg, value).toLatin1();
}

// Lowers the file size limit while it lives: every write past `limit` bytes fails as on a full disk.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(bool active, rlim_t limit = 64)
    {
        if (!active)
            return;
        m_active = getrlimit(RLIMIT_FSIZE, &m_old) == 0;
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = m_old;
        lowered.rlim_cur = limit;
        m_active = m_active && setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit()
    {
        if (!m_oldHandler)
            return;
        if (m_active)
            setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_active = false;
};

} // namespace

class TestFiles : public QObject
{
    Q_OBJECT

private slots:
    void runEdgeCases_data();
    void runEdgeCases();
    void missingFile_data();
    void missingFile();
    void unreadableFileStillCleansUp();
    void progressWindowFollowsTheRun();
    void openScriptFromTheMenu();
    void openCancelled();
    void startupScript_data();
    void startupScript();
    void startupDirectoryIsNoScript();

    void snapshotWithBoard();
    void snapshotWithoutBoard();
    void overwriteQuestion_data();
    void overwriteQuestion();
    void saveCancelled_data();
    void saveCancelled();
    void historyRunsBack();
    void snapshotRunsBack();
    void clearThenSave();
    void historyKeepsTypedText();
    void saveFailure_data();
    void saveFailure();
};

void TestFiles::runEdgeCases_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("message");     // the stop message; empty when the script runs to its end
    QTest::addColumn<QStringList>("writes");  // every register write that reaches the board
    QTest::addColumn<QList<int>>("sleeps");

    // Registers 0x40 (MRST kept set), 0x41 (bit 7 clear), 0x50 and 0x51 carry only combo boxes, and a
    // combo set from code writes nothing, so the refresh after the run adds no write of its own: the
    // board sees the script's writes and nothing else.
    const QList<int> none;
    QTest::newRow("file with no lines") << QByteArray() << QString() << QStringList() << none;
    QTest::newRow("only line breaks") << QByteArray("\r\n\n\r") << QString() << QStringList() << none;
    QTest::newRow("blank lines are skipped") << QByteArray("0x50, 0x01\r\n\r\n \t \r\n0x51, 0x02") << QString()
                                             << QStringList{wr(0x50, 0x01), wr(0x51, 0x02)} << none;
    QTest::newRow("lone CR and lone LF") << QByteArray("0x50, 0x01\r0x51, 0x02\n0x40, 0xC1\r\n") << QString()
                                         << QStringList{wr(0x50, 0x01), wr(0x51, 0x02), wr(0x40, 0xC1)} << none;
    QTest::newRow("sleep without length") << QByteArray("0x50, 0x01\r\nsleep\r\n0x51, 0x02") << kSleepMsg
                                          << QStringList{wr(0x50, 0x01)} << none;
    QTest::newRow("sleep, 10ms") << QByteArray("sleep, 10ms\r\n0x50, 0x01") << kSleepMsg << QStringList() << none;
    QTest::newRow("sleep, x10") << QByteArray("sleep, x10\r\n0x50, 0x01") << QString() << QStringList{wr(0x50, 0x01)}
                                << QList<int>{16};
    QTest::newRow("SLEEP,1000,settle") << QByteArray("SLEEP,1000,settle") << QString() << QStringList() << QList<int>{1000};
    QTest::newRow("negative sleep refused") << QByteArray("sleep, 5\r\nsleep, -1\r\n0x50, 0x01") << kSleepMsg
                                            << QStringList() << QList<int>{5};
    QTest::newRow("0x41 alone") << QByteArray("0x50, 0x01\r\n0x41\r\n0x51, 0x02") << kRecordMsg
                                << QStringList{wr(0x50, 0x01)} << none;
    QTest::newRow("0x41, 0x12z") << QByteArray("0x41, 0x12z") << kRecordMsg << QStringList() << none;
    QTest::newRow("empty first field") << QByteArray(", 0x12") << kRecordMsg << QStringList() << none;
    QTest::newRow("header line") << QByteArray("Register, Value\r\n0x50, 0x01") << kRecordMsg << QStringList() << none;
    QTest::newRow("0x41, 256") << QByteArray("0x50, 0x01\r\n0x41, 256\r\n0x51, 0x02") << kDataMsg
                               << QStringList{wr(0x50, 0x01)} << none;
    QTest::newRow("0x41, -1") << QByteArray("0x41, -1") << kDataMsg << QStringList() << none;
    QTest::newRow("255") << QByteArray("0x51, 255") << QString() << QStringList{wr(0x51, 0xFF)} << none;
    QTest::newRow("0xff") << QByteArray("0x51, 0xff") << QString() << QStringList{wr(0x51, 0xFF)} << none;
    QTest::newRow("65, 18") << QByteArray("65, 18") << QString() << QStringList{wr(0x41, 0x12)} << none;
    QTest::newRow("$41 $12") << QByteArray("$41 $12") << QString() << QStringList{wr(0x41, 0x12)} << none;
    QTest::newRow("X41,x12") << QByteArray("X41,x12") << QString() << QStringList{wr(0x41, 0x12)} << none;
    QTest::newRow("quoted fields") << QByteArray("\"0x41\", \"0x12\"") << QString() << QStringList{wr(0x41, 0x12)} << none;
    QTest::newRow("comment after comma") << QByteArray("0x41, 0x12, comment") << QString() << QStringList{wr(0x41, 0x12)}
                                         << none;
    QTest::newRow("comment after blank") << QByteArray("0x41 0x12 comment") << QString() << QStringList{wr(0x41, 0x12)}
                                         << none;
    // The failing write is reported by the write itself; the script does not notice and goes on.
    QTest::newRow("address outside the chip") << QByteArray("0x30, 0x01\r\n0x50, 0x02") << QString()
                                              << QStringList{wr(0x30, 0x01, "0x0005"), wr(0x50, 0x02)} << none;
    QTest::newRow("stops at its third line")
        << QByteArray("0x50, 0x01\r\n0x51, 0x02\r\n0x41, 0x1FF\r\n0x30, 0x77\r\n") << kDataMsg
        << QStringList{wr(0x50, 0x01), wr(0x51, 0x02)} << none;
    QTest::newRow("unterminated quote") << QByteArray("0x50, 0x01\r\n\"0x51, 0x02\r\n0x30, 0x77") << kRecordMsg
                                        << QStringList{wr(0x50, 0x01)} << none;
    QTest::newRow("binary after a good line")
        << (QByteArray("0x50, 0x01\r\n") + QByteArray("\x00\xFF\x89PNG\x1A\x80", 8) + "\r\n0x51, 0x02") << kRecordMsg
        << QStringList{wr(0x50, 0x01)} << none;
    QTest::newRow("8-bit byte after the value") << QByteArray("0x50, 0x01\xE9") << kRecordMsg << QStringList() << none;
}

void TestFiles::runEdgeCases()
{
    QFETCH(QByteArray, script);
    QFETCH(QString, message);
    QFETCH(QStringList, writes);
    QFETCH(QList<int>, sleeps);

    AppFixture fx;
    start(fx);
    const QString path = fx.file(QStringLiteral("script.csv"));
    QVERIFY(putFile(path, script));
    const evm::RegisterShadow before = fx.form->shadow;

    QStringList writtenAtStop;
    bool progressShownAtStop = false;
    fx.seam.onBox = [&](const RecordingSeam::Call &) {
        writtenAtStop = chipWrites(fx);
        progressShownAtStop = scriptProgress->isVisible();
    };
    QVERIFY(fx.form->RunScript(path, true));

    const QList<RecordingSeam::Call> boxes = fx.seam.of(QStringLiteral("box"));
    if (message.isEmpty()) {
        QCOMPARE(boxes.size(), 0);
    } else {
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].text, message);
        QCOMPARE(boxes[0].caption, kScriptCaption);
        QCOMPARE(boxes[0].icon, UiSeam::Icon::Error);
        QCOMPARE(boxes[0].buttons, int(UiSeam::Ok));
        QCOMPARE(writtenAtStop, writes);
        QVERIFY(progressShownAtStop);
    }
    // Nothing after the stop, nothing beyond the script's own lines.
    QCOMPARE(chipWrites(fx), writes);
    QCOMPARE(fx.sim.log(QStringLiteral("_readData")), QStringList());
    QCOMPARE(fx.seam.sleeps(), sleeps);
    const bool failed = writes.join(QString()).contains(QStringLiteral("= 0x0005"));
    QCOMPARE(fx.seam.count(QStringLiteral("message")), failed ? 1 : 0);
    if (failed)
        QCOMPARE(fx.seam.of(QStringLiteral("message"))[0].text, QStringLiteral("Communication error: WRERR0005"));

    // The lines that ran took effect in the shadow; every other register kept its byte.
    std::array<int, 32> expected{};
    for (int i = 0; i < 32; ++i)
        expected[i] = before.bytes[i];
    for (const QString &w : writes) {
        const int reg = w.section(QStringLiteral("reg=0x"), 1).left(2).toInt(nullptr, 16);
        const int value = w.section(QStringLiteral("value=0x"), 1).left(2).toInt(nullptr, 16);
        if (reg == 0x40)
            expected[0] = value | 0xC0;
        else if (reg > 0x40 && reg <= 0x5E)
            expected[reg - 0x40] = value & before.mask[reg - 0x40];
    }
    for (int i = 0; i < 31; ++i)
        QCOMPARE(int(fx.form->shadow.bytes[i]), expected[i]);

    QVERIFY(!scriptProgress->isVisible());
    QVERIFY(fx.form->historyEnabled);
    QCOMPARE(memo(fx)->toPlainText(), QString());
    fx.destroy();
}

void TestFiles::missingFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("makeDirectory");
    QTest::addColumn<bool>("historyBefore");

    QTest::newRow("missing, history on") << "none.csv" << false << true;
    QTest::newRow("missing, history off") << "none.csv" << false << false;
    QTest::newRow("directory, history on") << "dir.csv" << true << true;
    QTest::newRow("directory, history off") << "dir.csv" << true << false;
    QTest::newRow("empty name") << "" << false << false;
}

void TestFiles::missingFile()
{
    QFETCH(QString, name);
    QFETCH(bool, makeDirectory);
    QFETCH(bool, historyBefore);

    AppFixture fx;
    start(fx);
    if (makeDirectory)
        QVERIFY(QDir(fx.workDir()).mkdir(name));
    fx.form->historyEnabled = historyBefore;
    memo(fx)->setPlainText(QStringLiteral("kept"));
    fx.form->shadow.bytes[3] = 0x01; // a refresh would tick cInvDAC1; nothing may refresh here
    auto *inv = fx.find<QCheckBox>(QStringLiteral("cInvDAC1"));
    QVERIFY(inv && !inv->isChecked());

    QVERIFY(!fx.form->RunScript(name, true));

    const QList<RecordingSeam::Call> boxes = fx.seam.of(QStringLiteral("box"));
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].text, QStringLiteral("File not exist."));
    QCOMPARE(boxes[0].caption, kScriptCaption);
    QCOMPARE(boxes[0].icon, UiSeam::Icon::Error);
    QCOMPARE(boxes[0].buttons, int(UiSeam::Ok));
    QCOMPARE(fx.form->historyEnabled, historyBefore);
    QCOMPARE(fx.sim.log(), QStringList());
    QVERIFY(!inv->isChecked());
    QVERIFY(!scriptProgress->isVisible());
    QCOMPARE(memo(fx)->toPlainText(), QStringLiteral("kept"));
    fx.destroy();
}

void TestFiles::unreadableFileStillCleansUp()
{
    AppFixture fx;
    start(fx);
    fx.form->historyEnabled = false;
    fx.form->shadow.bytes[3] = 0x01; // the refresh of the clean-up ticks cInvDAC1
    auto *inv = fx.find<QCheckBox>(QStringLiteral("cInvDAC1"));
    QVERIFY(inv && !inv->isChecked());

    // A regular file that opens but whose every read fails.
    const QString path = QStringLiteral("/proc/self/mem");
    QVERIFY(QFileInfo(path).isFile());
    QVERIFY(fx.form->RunScript(path, true));

    const QList<RecordingSeam::Call> boxes = fx.seam.of(QStringLiteral("box"));
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].caption, kScriptCaption);
    QCOMPARE(boxes[0].icon, UiSeam::Icon::Error);
    QVERIFY2(boxes[0].text.startsWith(QStringLiteral("Cannot read /proc/self/mem: ")), qPrintable(boxes[0].text));
    QVERIFY2(boxes[0].text.size() > QStringLiteral("Cannot read /proc/self/mem: ").size(), "the reason is missing");
    QVERIFY(inv->isChecked());
    QCOMPARE(chipWrites(fx), QStringList{wr(0x43, 0x01)}); // only the refresh's own write of the box it ticked
    QVERIFY(!scriptProgress->isVisible());
    QVERIFY(fx.form->historyEnabled);
    QCOMPARE(memo(fx)->toPlainText(), QString());
    fx.destroy();
}

void TestFiles::progressWindowFollowsTheRun()
{
    AppFixture fx;
    start(fx);
    const QString path = fx.file(QStringLiteral("p.csv"));
    QVERIFY(putFile(path, "sleep, 1\r\n0x50, 0x01\r\nsleep, 2\r\n\r\nsleep, 3\r\nbad\r\nsleep, 4\r\n"));

    struct Seen {
        bool visible;
        int value;
        int maximum;
        bool history;
    };
    QList<Seen> seen;
    auto look = [&] {
        seen << Seen{scriptProgress->isVisible(), scriptProgress->ProgressBar1->value(),
                     scriptProgress->ProgressBar1->maximum(), fx.form->historyEnabled};
    };
    fx.seam.onSleep = [&](int) { look(); };
    fx.seam.onBox = [&](const RecordingSeam::Call &) { look(); };

    QVERIFY(fx.form->RunScript(path, true));
    QCOMPARE(seen.size(), 4);
    const int expectedAt[] = {0, 2, 4, 5}; // the three sleeps, then the stop at "bad"
    for (int i = 0; i < 4; ++i) {
        QVERIFY(seen[i].visible);
        QCOMPARE(seen[i].value, expectedAt[i]);
        QCOMPARE(seen[i].maximum, 7);
        QVERIFY(!seen[i].history);
    }
    QCOMPARE(fx.seam.sleeps(), (QList<int>{1, 2, 3}));
    QVERIFY(!scriptProgress->isVisible());
    QVERIFY(fx.form->historyEnabled);

    // Without showProgress the window stays hidden; the history flag is set afterwards even when it
    // was clear before.
    seen.clear();
    fx.form->historyEnabled = false;
    QVERIFY(fx.form->RunScript(path, false));
    QCOMPARE(seen.size(), 4);
    for (const Seen &s : seen)
        QVERIFY(!s.visible);
    QVERIFY(fx.form->historyEnabled);
    fx.destroy();
}

void TestFiles::openScriptFromTheMenu()
{
    AppFixture fx;
    start(fx);
    const QString path = fx.file(QStringLiteral("example.csv"));
    QVERIFY(putFile(path, "0x40, 0xC1\r\n0x41,0x06\r\nsleep, 100\r\n72 200\r\nSLEEP,1000,settle\r\n$44, 0XFF\r\n"
                          "0x4A, 0x1FF\r\n0x4B, 0x00\r\n"));
    fx.seam.fileNames << path;
    QList<bool> shownInSleep;
    fx.seam.onSleep = [&](int) { shownInSleep << scriptProgress->isVisible(); };
    QStringList writtenAtStop;
    fx.seam.onBox = [&](const RecordingSeam::Call &) { writtenAtStop = chipWrites(fx); };

    trigger(fx, "Open1");

    const QList<RecordingSeam::Call> dialogs = fx.seam.of(QStringLiteral("open"));
    QCOMPARE(dialogs.size(), 1);
    QCOMPARE(dialogs[0].text, QStringLiteral("CSV|*.csv|All Files|*.*"));
    QCOMPARE(dialogs[0].caption, QStringLiteral("csv")); // the default suffix
    QCOMPARE(dialogs[0].title, QStringLiteral("Open script"));
    QCOMPARE(fx.seam.sleeps(), (QList<int>{100, 1000}));
    QCOMPARE(shownInSleep, (QList<bool>{true, true}));
    QCOMPARE(fx.seam.of(QStringLiteral("box")).size(), 1);
    QCOMPARE(fx.seam.of(QStringLiteral("box"))[0].text, kDataMsg);
    // Where it stopped: the file's name, the line's number and the line as it stands (no CR).
    QCOMPARE(fx.seam.of(QStringLiteral("box"))[0].detail, QStringLiteral("example.csv, line 7: 0x4A, 0x1FF"));
    QCOMPARE(writtenAtStop, (QStringList{wr(0x40, 0xC1), wr(0x41, 0x06), wr(0x48, 0xC8), wr(0x44, 0xFF)}));
    // The refresh re-issues the changed slider and check boxes, but lines 7 and 8 never reach the board.
    for (const QString &w : chipWrites(fx))
        QVERIFY2(!w.contains(QStringLiteral("reg=0x4A")) && !w.contains(QStringLiteral("reg=0x4B")), qPrintable(w));

    QCOMPARE(int(fx.form->shadow.byte(0x48)), 0xC8);
    QCOMPARE(fx.find<QSlider>(QStringLiteral("tkDAC1"))->value(), 200);
    for (int i = 1; i <= 8; ++i)
        QVERIFY(fx.find<QCheckBox>(QStringLiteral("cDAC%1").arg(i))->isChecked());
    QCOMPARE(fx.find<QComboBox>(QStringLiteral("cbDACSAM"))->currentIndex(), 1);
    QVERIFY(!scriptProgress->isVisible());
    QCOMPARE(memo(fx)->toPlainText(), QString());

    // The user's own writes after the run are logged again.
    fx.find<QLineEdit>(QStringLiteral("RDA_reg"))->setText(QStringLiteral("0x50"));
    fx.find<QLineEdit>(QStringLiteral("RDA_data"))->setText(QStringLiteral("0x03"));
    fx.form->WriteClick();
    QCOMPARE(memo(fx)->toPlainText(), QStringLiteral("0x50, 0x03"));
    fx.destroy();
}

void TestFiles::openCancelled()
{
    AppFixture fx;
    start(fx);
    fx.form->historyEnabled = false;
    trigger(fx, "Open1");
    QCOMPARE(fx.seam.count(QStringLiteral("open")), 1);
    QCOMPARE(fx.seam.calls.size(), 1); // the dialog and nothing else
    QCOMPARE(fx.sim.log(), QStringList());
    QVERIFY(!fx.form->historyEnabled);
    QVERIFY(!scriptProgress->isVisible());
    fx.destroy();
}

void TestFiles::startupScript_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("message");

    const QByteArray lines("0x43, 0x01\r\n0x46, 0x30\r\nsleep, 7\r\n0x48, 0x80\r\n");
    QTest::newRow("runs to its end") << lines << QString();
    QTest::newRow("stops at a bad line") << lines + "bad\r\n0x30, 0x01\r\n" << kRecordMsg;
}

void TestFiles::startupScript()
{
    QFETCH(QByteArray, script);
    QFETCH(QString, message);

    AppFixture fx;
    fx.create();
    QVERIFY(putFile(fx.file(QStringLiteral("startup.csv")), script));
    bool splashShown = false, progressShown = true, history = true;
    fx.seam.onSleep = [&](int) {
        splashShown = SplashForm->isVisible();
        progressShown = scriptProgress->isVisible();
        history = fx.form->historyEnabled;
    };
    fx.show();

    QCOMPARE(fx.seam.sleeps(), QList<int>{7});
    QVERIFY(splashShown); // the busy window stays over the run
    QVERIFY(!progressShown);
    QVERIFY(!history);

    const QList<RecordingSeam::Call> boxes = fx.seam.of(QStringLiteral("box"));
    QCOMPARE(boxes.size(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty()) {
        QCOMPARE(boxes[0].text, message);
        QCOMPARE(boxes[0].caption, kScriptCaption);
    }

    // The script's writes come after the last read of the read-back, before any write of the refresh.
    const QStringList log = fx.sim.log();
    const qsizetype lastRead = log.lastIndexOf(QStringLiteral("_readData(channel=0, reg=0x5E) = 0 value=0xD7"));
    QVERIFY(lastRead > 0);
    QCOMPARE(fx.sim.log(QStringLiteral("_readData(channel=0")).size(), 31);
    QStringList writesAfterReadBack;
    for (qsizetype i = 0; i < log.size(); ++i) {
        if (!log[i].startsWith(QStringLiteral("_writeData(channel=0")))
            continue;
        QVERIFY2(i > lastRead, qPrintable(log[i]));
        writesAfterReadBack << log[i];
    }
    QVERIFY(writesAfterReadBack.size() >= 3);
    QCOMPARE(writesAfterReadBack.mid(0, 3), (QStringList{wr(0x43, 0x01), wr(0x46, 0x30), wr(0x48, 0x80)}));
    QVERIFY(!writesAfterReadBack.contains(wr(0x30, 0x01)));

    QVERIFY(fx.find<QCheckBox>(QStringLiteral("cInvDAC1"))->isChecked());
    QCOMPARE(fx.find<QComboBox>(QStringLiteral("cbDEMP"))->currentIndex(), 3);
    QCOMPARE(fx.find<QSlider>(QStringLiteral("tkDAC1"))->value(), 0x80);
    QCOMPARE(fx.sim.reg(0x43), 0x01);
    QCOMPARE(memo(fx)->toPlainText(), QString());
    QVERIFY(fx.form->historyEnabled);
    QVERIFY(!SplashForm->isVisible());
    QVERIFY(!scriptProgress->isVisible());
    fx.destroy();
}

void TestFiles::startupDirectoryIsNoScript()
{
    AppFixture fx;
    fx.create();
    QVERIFY(QDir(fx.workDir()).mkdir(QStringLiteral("startup.csv")));
    fx.show();
    QCOMPARE(fx.seam.count(QStringLiteral("box")), 0);
    QCOMPARE(fx.sim.log(QStringLiteral("_writeData(channel=0")), QStringList());
    QVERIFY(fx.form->historyEnabled);
    fx.destroy();
}

void TestFiles::snapshotWithBoard()
{
    AppFixture fx;
    start(fx);
    // Every DIN line low raises all eight zero flags of 0x45.
    for (int i = 1; i <= 4; ++i) {
        auto *din = fx.find<QCheckBox>(QStringLiteral("cbDIN%1").arg(i));
        din->setChecked(!din->isChecked());
        din->setChecked(false);
    }
    QCOMPARE(fx.sim.reg(0x45), 0xFF);
    fx.sim.poke(0x40, 0x01);  // reads back with the trigger bits: 0xC1
    fx.sim.poke(0x47, 0x0A);
    fx.sim.poke(0x59, 0xE0);  // ADC1 above unity gain: overflow flag 0 of 0x56
    memo(fx)->clear();
    fx.seam.clear();
    fx.sim.clearLog();
    const evm::RegisterShadow shadowBefore = fx.form->shadow;

    const QString path = fx.file(QStringLiteral("snap.csv"));
    fx.seam.fileNames << path;
    trigger(fx, "SaveRegisterDump");

    const QList<RecordingSeam::Call> dialogs = fx.seam.of(QStringLiteral("save"));
    QCOMPARE(dialogs.size(), 1);
    QCOMPARE(dialogs[0].text, QStringLiteral("CSV|*.csv|All files|*.*"));
    QCOMPARE(dialogs[0].caption, QStringLiteral("csv"));
    QCOMPARE(dialogs[0].title, QStringLiteral("Save register snapshot"));
    QCOMPARE(fx.seam.count(QStringLiteral("box")), 0); // a new name asks nothing

    const QByteArray bytes = fileBytes(path);
    QCOMPARE(bytes.size(), 372);
    QByteArray expected;
    QStringList reads;
    for (int reg = 0x40; reg <= 0x5E; ++reg) {
        expected += snapshotLine(reg, fx.sim.reg(reg));
        reads << QString::asprintf("_readData(channel=0, reg=0x%02X) = 0 value=0x%02X", reg, fx.sim.reg(reg));
    }
    QCOMPARE(bytes, expected);
    const QList<QByteArray> lines = bytes.split('\n');
    QCOMPARE(lines.size(), 32);
    QCOMPARE(lines[0], QByteArray("0x40, 0xC1\r"));
    QCOMPARE(lines[5], QByteArray("0x45, 0xFF\r"));
    QCOMPARE(lines[7], QByteArray("0x47, 0x0A\r"));
    QCOMPARE(lines[22], QByteArray("0x56, 0x01\r"));
    QCOMPARE(lines[30], QByteArray("0x5E, 0xD7\r"));
    // Read from the chip, in register order, and nothing else.
    QCOMPARE(fx.sim.log(), reads);
    QVERIFY(fx.form->shadow.bytes == shadowBefore.bytes);
    QCOMPARE(memo(fx)->toPlainText(), QString());
    fx.destroy();
}

void TestFiles::snapshotWithoutBoard()
{
    AppFixture fx;
    fx.sim.setPresent(false);
    fx.create();
    fx.show();
    QCOMPARE(fx.seam.of(QStringLiteral("box")).value(0).text, QStringLiteral("No EVM was found"));
    fx.sim.clearLog();
    const QString path = fx.file(QStringLiteral("snap.csv"));
    fx.seam.fileNames << path;
    trigger(fx, "SaveRegisterDump");

    QByteArray expected;
    for (int reg = 0x40; reg <= 0x5E; ++reg)
        expected += snapshotLine(reg, 0);
    QCOMPARE(fileBytes(path), expected);
    QVERIFY(fileBytes(path).startsWith("0x40, 0x00\r\n0x41, 0x00\r\n"));
    QCOMPARE(fx.sim.log(), QStringList());
    fx.destroy();
}

void TestFiles::overwriteQuestion_data()
{
    QTest::addColumn<bool>("snapshot"); // else the history
    QTest::addColumn<bool>("yes");

    QTest::newRow("snapshot, No") << true << false;
    QTest::newRow("snapshot, Yes") << true << true;
    QTest::newRow("history, No") << false << false;
    QTest::newRow("history, Yes") << false << true;
}

void TestFiles::overwriteQuestion()
{
    QFETCH(bool, snapshot);
    QFETCH(bool, yes);

    AppFixture fx;
    start(fx);
    memo(fx)->setPlainText(QStringLiteral("0x41, 0x12"));
    const QString path = fx.file(QStringLiteral("old.csv"));
    const QByteArray old("old contents\r\n");
    QVERIFY(putFile(path, old));
    fx.seam.fileNames << path;
    if (yes)
        fx.seam.answers << UiSeam::Yes;

    if (snapshot)
        trigger(fx, "SaveRegisterDump");
    else
        clickPicture(fx, "imgSave");

    const QList<RecordingSeam::Call> boxes = fx.seam.of(QStringLiteral("box"));
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].caption, QStringLiteral("File exits"));
    QCOMPARE(boxes[0].text, kOverwriteText);
    QCOMPARE(boxes[0].icon, UiSeam::Icon::Question);
    QCOMPARE(boxes[0].buttons, int(UiSeam::Yes | UiSeam::No));
    if (!yes) {
        QCOMPARE(fileBytes(path), old);
        QCOMPARE(fx.sim.log(), QStringList()); // nothing was read either
    } else if (snapshot) {
        QCOMPARE(fileBytes(path).size(), 372);
        QCOMPARE(fx.sim.log(QStringLiteral("_readData")).size(), 31);
    } else {
        QCOMPARE(fileBytes(path), QByteArray("0x41, 0x12\r\n"));
    }
    QCOMPARE(QDir(fx.workDir()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("old.csv")});
    fx.destroy();
}

void TestFiles::saveCancelled_data()
{
    QTest::addColumn<bool>("snapshot");
    QTest::newRow("snapshot") << true;
    QTest::newRow("history") << false;
}

void TestFiles::saveCancelled()
{
    QFETCH(bool, snapshot);
    AppFixture fx;
    start(fx);
    memo(fx)->setPlainText(QStringLiteral("0x41, 0x12"));
    if (snapshot)
        trigger(fx, "SaveRegisterDump");
    else
        clickPicture(fx, "imgSave");
    QCOMPARE(fx.seam.count(QStringLiteral("save")), 1);
    QCOMPARE(fx.seam.of(QStringLiteral("save"))[0].title,
             snapshot ? QStringLiteral("Save register snapshot") : QStringLiteral("Save register setting history"));
    QCOMPARE(fx.seam.calls.size(), 1);
    QCOMPARE(fx.sim.log(), QStringList());
    QCOMPARE(QDir(fx.workDir()).entryList(QDir::Files | QDir::Hidden), QStringList());
    QCOMPARE(memo(fx)->toPlainText(), QStringLiteral("0x41, 0x12"));
    fx.destroy();
}

void TestFiles::historyRunsBack()
{
    AppFixture fx;
    start(fx);
    fx.find<QCheckBox>(QStringLiteral("cInvDAC1"))->click();
    fx.find<QCheckBox>(QStringLiteral("cDAC1"))->click();
    QCOMPARE(memo(fx)->toPlainText(), QStringLiteral("0x43, 0x01\n0x44, 0x01"));

    const QString path = fx.file(QStringLiteral("history.csv"));
    fx.seam.fileNames << path;
    clickPicture(fx, "imgSave");
    QCOMPARE(fileBytes(path), QByteArray("0x43, 0x01\r\n0x44, 0x01\r\n"));
    QCOMPARE(memo(fx)->toPlainText(), QStringLiteral("0x43, 0x01\n0x44, 0x01")); // saving does not clear

    // The chip loses both settings behind the program's back; the saved history restores them.
    fx.sim.poke(0x43, 0x00);
    fx.sim.poke(0x44, 0x00);
    fx.sim.clearLog();
    QVERIFY(fx.form->RunScript(path, false));
    QCOMPARE(chipWrites(fx), (QStringList{wr(0x43, 0x01), wr(0x44, 0x01)}));
    QCOMPARE(fx.sim.reg(0x43), 0x01);
    QCOMPARE(fx.sim.reg(0x44), 0x01);
    QCOMPARE(fx.seam.count(QStringLiteral("box")), 0);
    QCOMPARE(memo(fx)->toPlainText(), QStringLiteral("0x43, 0x01\n0x44, 0x01"));
    fx.destroy();
}

void TestFiles::snapshotRunsBack()
{
    AppFixture fx;
    start(fx);
    fx.sim.poke(0x41, 0x12);
    fx.sim.poke(0x47, 0x0A);
    fx.sim.poke(0x52, 0x15);
    fx.sim.poke(0x5A, 0x80);
    const QString path = fx.file(QStringLiteral("snap.csv"));
    fx.seam.fileNames << path;
    trigger(fx, "SaveRegisterDump");
    const QList<QByteArray> lines = fileBytes(path).split('\n');
    QCOMPARE(lines.size(), 32);

    QStringList expected;
    for (int reg = 0x40; reg <= 0x5E; ++reg)
        expected << wr(reg, fx.sim.reg(reg));
    fx.sim.poke(0x41, 0x00);
    fx.sim.poke(0x47, 0x33);
    fx.sim.poke(0x52, 0x00);
    fx.sim.poke(0x5A, 0xD7);
    fx.sim.clearLog();
    fx.seam.clear();

    QVERIFY(fx.form->RunScript(path, true));
    QCOMPARE(fx.seam.count(QStringLiteral("box")), 0);
    const QStringList writes = chipWrites(fx);
    QVERIFY(writes.size() >= 31);
    QCOMPARE(writes.mid(0, 31), expected); // the 31 values in register order; the refresh follows
    QCOMPARE(fx.sim.reg(0x41), 0x12);
    QCOMPARE(fx.sim.reg(0x47), 0x0A);
    QCOMPARE(fx.sim.reg(0x52), 0x15);
    QCOMPARE(fx.sim.reg(0x5A), 0x80);
    QCOMPARE(fx.find<QSlider>(QStringLiteral("tkDAC0"))->value(), 0x0A);
    QCOMPARE(memo(fx)->toPlainText(), QString());
    fx.destroy();
}

void TestFiles::clearThenSave()
{
    AppFixture fx;
    start(fx);
    auto *inv = fx.find<QCheckBox>(QStringLiteral("cInvDAC1"));
    inv->click();
    QCOMPARE(memo(fx)->toPlainText(), QStringLiteral("0x43, 0x01"));
    clickPicture(fx, "imgClear");
    QCOMPARE(memo(fx)->toPlainText(), QString());
    QCOMPARE(fx.seam.count(QStringLiteral("box")), 0);

    const QString path = fx.file(QStringLiteral("empty.csv"));
    fx.seam.fileNames << path;
    clickPicture(fx, "imgSave");
    QVERIFY(QFileInfo(path).isFile());
    QCOMPARE(fileBytes(path), QByteArray());

    inv->click();
    QCOMPARE(memo(fx)->toPlainText(), QStringLiteral("0x43, 0x00"));
    fx.destroy();
}

void TestFiles::historyKeepsTypedText()
{
    AppFixture fx;
    start(fx);
    fx.find<QCheckBox>(QStringLiteral("cInvDAC1"))->click();
    QPlainTextEdit *log = memo(fx);
    log->moveCursor(QTextCursor::End);
    log->insertPlainText(QStringLiteral("\n-- note\u00A0\u00E9\t,\n"));
    const QString path = fx.file(QStringLiteral("typed.csv"));
    fx.seam.fileNames << path;
    clickPicture(fx, "imgSave");
    QCOMPARE(fileBytes(path), QByteArray("0x43, 0x01\r\n-- note\xA0\xE9\t,\r\n"));
    fx.destroy();
}

void TestFiles::saveFailure_data()
{
    QTest::addColumn<bool>("snapshot");
    QTest::addColumn<QString>("target"); // relative to the working directory, which holds plain.txt and old.csv
    QTest::addColumn<bool>("diskFull");

    for (bool snapshot : {true, false}) {
        const char *kind = snapshot ? "snapshot" : "history";
        QTest::addRow("%s, missing directory", kind) << snapshot << "missing/out.csv" << false;
        QTest::addRow("%s, under a regular file", kind) << snapshot << "plain.txt/out.csv" << false;
        QTest::addRow("%s, disk full over an old file", kind) << snapshot << "old.csv" << true;
    }
}

void TestFiles::saveFailure()
{
    QFETCH(bool, snapshot);
    QFETCH(QString, target);
    QFETCH(bool, diskFull);

    AppFixture fx;
    start(fx);
    QString history;
    for (int i = 0; i < 20; ++i)
        history += QStringLiteral("0x41, 0x12\n"); // longer than the size limit
    memo(fx)->setPlainText(history);
    const QByteArray plain("plain\r\n"), old("0x47, 0xFF\r\n");
    QVERIFY(putFile(fx.file(QStringLiteral("plain.txt")), plain));
    QVERIFY(putFile(fx.file(QStringLiteral("old.csv")), old));
    const QString path = fx.file(target);
    fx.seam.fileNames << path;
    if (diskFull)
        fx.seam.answers << UiSeam::Yes; // to the overwrite question

    {
        FileSizeLimit limit(diskFull);
        if (snapshot)
            trigger(fx, "SaveRegisterDump");
        else
            clickPicture(fx, "imgSave");
    }

    QList<RecordingSeam::Call> boxes = fx.seam.of(QStringLiteral("box"));
    if (diskFull) {
        QVERIFY(!boxes.isEmpty());
        QCOMPARE(boxes.takeFirst().caption, QStringLiteral("File exits"));
    }
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].caption, QStringLiteral("Error"));
    QCOMPARE(boxes[0].icon, UiSeam::Icon::Error);
    QCOMPARE(boxes[0].buttons, int(UiSeam::Ok));
    const QString head = QStringLiteral("Cannot save %1: ").arg(path);
    QVERIFY2(boxes[0].text.startsWith(head), qPrintable(boxes[0].text));
    const QString reason = boxes[0].text.mid(head.size());
    QVERIFY2(!reason.isEmpty() && reason != QLatin1String("Unknown error"), qPrintable(boxes[0].text));

    QCOMPARE(fileBytes(fx.file(QStringLiteral("plain.txt"))), plain);
    QCOMPARE(fileBytes(fx.file(QStringLiteral("old.csv"))), old);
    QCOMPARE(QDir(fx.workDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             (QStringList{QStringLiteral("old.csv"), QStringLiteral("plain.txt")}));
    QCOMPARE(memo(fx)->toPlainText(), history);
    fx.destroy();
}

QTEST_MAIN(TestFiles)
#include "tst_files.moc"
