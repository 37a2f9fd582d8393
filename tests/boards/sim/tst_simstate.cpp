// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated board's state file shared by many runs of the tool at once, as scripts run
// it: each run reads the file at _init and writes it at _close, so what one run changed must
// survive every other run, and no run may see or leave a cut file.

#include "fielddiff.h"
#include "registers.h"
#include "textfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <memory>
#include <vector>

using namespace evm;

namespace {

// One change per register that a snapshot keeps: `write` on most, `set` of a field on a few.
// 0x40 (a write may reset the chip) and 0x45 (status flags only) are left alone.
struct Change {
    QStringList args;
    int reg;
    uint8_t value;
};

std::vector<Change> distinctChanges()
{
    std::vector<Change> changes = {
        {{"set", "DEMP", "2"}, 0x46, 0x20},
        {{"set", "SRAD", "3"}, 0x50, 0x03},
        {{"set", "MSAD", "5"}, 0x51, 0x50},
    };
    for (int reg = 0x41; reg <= LastRegister; ++reg) {
        if (reg == 0x45 || reg == 0x46 || reg == 0x50 || reg == 0x51)
            continue;
        // 0x56 keeps only its two top bits; elsewhere any byte unlike the power-on one.
        uint8_t value = reg == 0x56 ? 0x80 : uint8_t(reg ^ 0x5A);
        if (value == powerOnValue(reg))
            value ^= 0x01;
        changes.push_back({{"write", QStringLiteral("0x%1").arg(reg, 2, 16, QLatin1Char('0')),
                            QStringLiteral("0x%1").arg(value, 2, 16, QLatin1Char('0'))},
                           reg, value});
    }
    return changes;
}

} // namespace

class TstSimState : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir *m_dir = nullptr;

    QProcessEnvironment environment(const QString &statePath) const
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const QString &name : e.keys())
            if (name.startsWith(QLatin1String("OSTREL_SIM_")) || name == QLatin1String("EVM_BOARD_LIBRARY"))
                e.remove(name);
        e.insert(QStringLiteral("EVM_BOARD_LIBRARY"), QStringLiteral(OSTREL_SIM_PATH));
        e.insert(QStringLiteral("OSTREL_SIM_STATE"), statePath);
        e.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir->filePath(QStringLiteral("config")));
        return e;
    }

    std::unique_ptr<QProcess> start(const QStringList &args, const QString &statePath) const
    {
        return start(args, environment(statePath));
    }
    std::unique_ptr<QProcess> start(const QStringList &args, const QProcessEnvironment &environment) const
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(environment);
        p->setWorkingDirectory(m_dir->path());
        p->start(QStringLiteral(EVM5170CTL_PATH), args);
        return p;
    }

    // Exit code and standard error of a started run, -1 when it does not end in time.
    static std::pair<int, QByteArray> finish(QProcess &p)
    {
        if (!p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished();
            return {-1, "did not finish"};
        }
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardError()};
    }

    static QByteArray fileText(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void init()
    {
        m_dir = new QTemporaryDir;
        QVERIFY(m_dir->isValid());
    }
    void cleanup()
    {
        delete m_dir;
        m_dir = nullptr;
    }

    // Writers of distinct registers and readers, all at once, against one file: no run
    // complains, every dump is whole, and the file ends holding every writer's change.
    void parallelRunsLoseNothing()
    {
        const QString state = m_dir->filePath(QStringLiteral("state.csv"));
        RegisterValues expected{};
        for (int i = 0; i < RegisterCount; ++i)
            expected[i] = powerOnValue(FirstRegister + i);
        {
            QFile f(state);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.write(QByteArray::fromStdString(snapshotText(expected))) > 0);
        }

        const std::vector<Change> changes = distinctChanges();
        QCOMPARE(int(changes.size()), RegisterCount - 2);
        constexpr int kDumps = 30;
        std::vector<std::unique_ptr<QProcess>> runs;
        for (size_t i = 0; i < changes.size() || int(i) < kDumps; ++i) {
            if (i < changes.size())
                runs.push_back(start(changes[i].args, state));
            if (int(i) < kDumps)
                runs.push_back(start({QStringLiteral("dump"), QStringLiteral("dump-%1.csv").arg(i)}, state));
        }
        QStringList complaints;
        for (const auto &run : runs) {
            const auto [code, errors] = finish(*run);
            if (code != 0 || !errors.isEmpty())
                complaints << QStringLiteral("%1: exit %2, %3").arg(run->arguments().join(QLatin1Char(' '))).arg(code)
                                  .arg(QString::fromLocal8Bit(errors).trimmed());
        }

        for (const Change &change : changes)
            expected[change.reg - FirstRegister] = change.value;
        const QByteArray text = fileText(state);
        QCOMPARE(text.count('\n'), RegisterCount);
        RegisterValues saved{};
        const auto error = parseSnapshot(text.toStdString(), saved);
        QVERIFY2(!error, error.value_or(std::string()).c_str());
        for (int i = 0; i < RegisterCount; ++i)
            QVERIFY2(saved[i] == expected[i], qPrintable(QStringLiteral("0x%1 is 0x%2, expected 0x%3")
                                                             .arg(FirstRegister + i, 2, 16)
                                                             .arg(saved[i], 2, 16, QLatin1Char('0'))
                                                             .arg(expected[i], 2, 16, QLatin1Char('0'))));

        QVERIFY2(complaints.isEmpty(), qPrintable(complaints.join(QLatin1Char('\n'))));
        for (int i = 0; i < kDumps; ++i) {
            RegisterValues dumped{};
            const auto error = parseSnapshot(fileText(m_dir->filePath(QStringLiteral("dump-%1.csv").arg(i))).toStdString(), dumped);
            QVERIFY2(!error, qPrintable(QStringLiteral("dump %1: %2").arg(i).arg(QString::fromStdString(error.value_or(std::string())))));
        }

        // Nothing left behind but the file and its lock.
        const QStringList left = QDir(m_dir->path()).entryList(QStringList{QStringLiteral("*state*")},
                                                               QDir::Files | QDir::Hidden | QDir::System);
        QCOMPARE(left, (QStringList{"state.csv", "state.csv.lock"}));
    }

    // A state file reached through a link, with its own mode: the link stays a link, the
    // file it names takes the save and keeps its mode.
    void linkAndModeKept()
    {
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("real")));
        const QString real = m_dir->filePath(QStringLiteral("real/state.csv"));
        const QString link = m_dir->filePath(QStringLiteral("state.csv"));
        {
            QFile f(real);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.write("0x47, 0x12\r\n") > 0);
        }
        QVERIFY(::chmod(QFile::encodeName(real).constData(), 0640) == 0);
        QVERIFY(QFile::link(QStringLiteral("real/state.csv"), link));

        auto run = start({QStringLiteral("write"), QStringLiteral("0x48"), QStringLiteral("0x34")}, link);
        const auto [code, errors] = finish(*run);
        QCOMPARE(code, 0);
        QCOMPARE(errors, QByteArray());

        QVERIFY(QFileInfo(link).isSymLink());
        struct stat status {};
        QVERIFY(::stat(QFile::encodeName(real).constData(), &status) == 0);
        QCOMPARE(int(status.st_mode & 07777), 0640);
        RegisterValues saved{};
        QVERIFY(!parseSnapshot(fileText(real).toStdString(), saved));
        QCOMPARE(int(saved[0x47 - FirstRegister]), 0x12);
        QCOMPARE(int(saved[0x48 - FirstRegister]), 0x34);
        QCOMPARE(QDir(m_dir->filePath(QStringLiteral("real"))).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"state.csv", "state.csv.lock"}));
    }

    // Without OSTREL_SIM_STATE the registers are kept in the user's state folder, made private
    // where it is missing; set but empty, nothing is kept; a folder that cannot be made is said
    // once and the runs go on from power-on values.
    void defaultFile_data()
    {
        QTest::addColumn<QString>("stateHome"); // XDG_STATE_HOME, "-" for unset
        QTest::addColumn<bool>("unset");        // OSTREL_SIM_STATE unset, else empty
        QTest::addColumn<QString>("file");      // where the registers go, under the scratch folder
        QTest::addColumn<QByteArray>("warning");
        QTest::newRow("state home") << "/xdg" << true << "xdg/evm5170/sim-state.csv" << QByteArray();
        QTest::newRow("home") << "-" << true << "home/.local/state/evm5170/sim-state.csv" << QByteArray();
        QTest::newRow("relative state home") << "xdg" << true << "home/.local/state/evm5170/sim-state.csv" << QByteArray();
        QTest::newRow("empty: none") << "/xdg" << false << QString() << QByteArray();
        QTest::newRow("not a folder") << "/plain" << true << QString() << QByteArray("/plain/evm5170: Not a directory");
    }
    void defaultFile()
    {
        QFETCH(QString, stateHome);
        QFETCH(bool, unset);
        QFETCH(QString, file);
        QFETCH(QByteArray, warning);
        const QString root = m_dir->path();
        QVERIFY(QDir(root).mkdir(QStringLiteral("home")));
        QFile plain(m_dir->filePath(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        QProcessEnvironment e = environment(QString());
        if (unset)
            e.remove(QStringLiteral("OSTREL_SIM_STATE"));
        e.insert(QStringLiteral("HOME"), m_dir->filePath(QStringLiteral("home")));
        e.remove(QStringLiteral("XDG_STATE_HOME"));
        if (stateHome != QLatin1String("-"))
            e.insert(QStringLiteral("XDG_STATE_HOME"), stateHome.startsWith(QLatin1Char('/')) ? root + stateHome : stateHome);

        auto set = start({QStringLiteral("set"), QStringLiteral("DEMP"), QStringLiteral("2")}, e);
        const auto [setCode, setErrors] = finish(*set);
        QCOMPARE(setCode, 0);
        auto get = start({QStringLiteral("get"), QStringLiteral("DEMP")}, e);
        const auto [getCode, getErrors] = finish(*get);
        QCOMPARE(getCode, 0);
        QCOMPARE(get->readAllStandardOutput(), QByteArray(file.isEmpty() ? "0\n" : "2\n"));
        if (warning.isEmpty()) {
            QCOMPARE(setErrors + getErrors, QByteArray());
        } else {
            QVERIFY2(setErrors.contains(warning), setErrors.constData());
            QCOMPARE(setErrors.count('\n'), 1);
        }
        // Only the state file and its lock appear, in folders of the user's alone.
        QStringList made;
        for (QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
             it.hasNext();) {
            const QString path = it.next().mid(root.size() + 1);
            if (path != QLatin1String("home") && path != QLatin1String("plain"))
                made << path;
            struct stat status {};
            QVERIFY(::lstat(QFile::encodeName(it.filePath()).constData(), &status) == 0);
            if (S_ISDIR(status.st_mode) && path != QLatin1String("home"))
                QCOMPARE(status.st_mode & 07777, mode_t(0700));
        }
        made.sort();
        QStringList expected;
        if (!file.isEmpty()) {
            for (QString folder = QFileInfo(file).path(); folder != QLatin1String("home") && folder != QLatin1String(".");
                 folder = QFileInfo(folder).path())
                expected << folder;
            expected << file << file + QStringLiteral(".lock");
            expected.sort();
        }
        QCOMPARE(made, expected);
        RegisterValues saved{};
        if (!file.isEmpty()) {
            QVERIFY(!parseSnapshot(fileText(m_dir->filePath(file)).toStdString(), saved));
            QCOMPARE(int(saved[0x46 - FirstRegister]), 0x20);
        }
    }

    // A FIFO nobody reads as the state file: the run neither blocks on it nor replaces it.
    void fifoNeverBlocks()
    {
        const QString fifo = m_dir->filePath(QStringLiteral("state.fifo"));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        auto run = start({QStringLiteral("write"), QStringLiteral("0x48"), QStringLiteral("0x34")}, fifo);
        const auto [code, errors] = finish(*run);
        QCOMPARE(code, 0);
        QVERIFY2(errors.contains("cannot write"), errors.constData());
        struct stat status {};
        QVERIFY(::lstat(QFile::encodeName(fifo).constData(), &status) == 0);
        QVERIFY(S_ISFIFO(status.st_mode));
    }
};

QTEST_GUILESS_MAIN(TstSimState)
#include "tst_simstate.moc"
