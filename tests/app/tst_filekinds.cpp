// SPDX-License-Identifier: GPL-3.0-or-later
// The window's files when they are not plain files: saves through links, to a FIFO and to
// device nodes, over a file with its own mode and owner; a settings file that is a FIFO or a
// link. Through the real windows against the simulated board.
#include "filekinds.h"
#include "fixture.h"
#include "uitest.h"

#include "main.h"
#include "radiogroup.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRadioButton>
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

void saveSnapshot(AppFixture &fx, const QString &path)
{
    fx.seam.fileNames << path;
    fx.seam.answers << UiSeam::Yes; // the overwrite question, when asked
    fx.form->findChild<QAction *>(QStringLiteral("SaveRegisterDump"))->trigger();
}

} // namespace

class TestFileKinds : public QObject
{
    Q_OBJECT

private slots:
    void snapshotThroughLinkKeepsModeAndOwner();
    void historyToFifoWithReader();
    void snapshotToDeviceNodes();
    void settingsFifoAtStartup();
    void settingsThroughLink();
};

void TestFileKinds::snapshotThroughLinkKeepsModeAndOwner()
{
    AppFixture fx;
    fx.create_and_show();
    const QString target = fx.file(QStringLiteral("target.csv"));
    const QString link = fx.file(QStringLiteral("link.csv"));
    QFile(target).open(QIODevice::WriteOnly);
    QCOMPARE(::chmod(QFile::encodeName(target).constData(), 0640), 0);
    const bool root = geteuid() == 0;
    if (root)
        QCOMPARE(::chown(QFile::encodeName(target).constData(), 4321, 5432), 0);
    QVERIFY(QFile::link(target, link));

    saveSnapshot(fx, link);
    QCOMPARE(fx.seam.count(QStringLiteral("box")), 1); // the overwrite question only
    QVERIFY(S_ISLNK(statOf(link, false).st_mode));
    const QByteArray saved = fileBytes(target);
    QCOMPARE(saved.size(), 372);
    QVERIFY(saved.startsWith("0x40, 0xC0\r\n"));
    const struct stat st = statOf(target);
    QCOMPARE(int(st.st_mode & 07777), 0640);
    if (root) {
        QCOMPARE(int(st.st_uid), 4321);
        QCOMPARE(int(st.st_gid), 5432);
    }
}

void TestFileKinds::historyToFifoWithReader()
{
    AppFixture fx;
    fx.create_and_show();
    clickIndicator(fx, QStringLiteral("cInvDAC1"));
    const QString fifo = fx.file(QStringLiteral("history.fifo"));
    const QByteArray name = QFile::encodeName(fifo);
    QCOMPARE(::mkfifo(name.constData(), 0600), 0);
    const int reader = ::open(name.constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);
    fx.seam.fileNames << fifo;
    fx.seam.answers << UiSeam::Yes;
    QTest::mouseClick(fx.find<QWidget>(QStringLiteral("imgSave")), Qt::LeftButton);
    char buffer[256];
    const ssize_t n = ::read(reader, buffer, sizeof buffer);
    ::close(reader);
    QCOMPARE(QByteArray(buffer, int(qMax<ssize_t>(n, 0))), QByteArray("0x43, 0x01\r\n"));
    QVERIFY(S_ISFIFO(statOf(fifo, false).st_mode));
    QCOMPARE(fx.seam.count(QStringLiteral("box")), 1);
}

void TestFileKinds::snapshotToDeviceNodes()
{
    AppFixture fx;
    fx.create_and_show();
    const QString null = fx.file(QStringLiteral("null"));
    const QString full = fx.file(QStringLiteral("full"));
    if (::mknod(QFile::encodeName(null).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0
        || ::mknod(QFile::encodeName(full).constData(), S_IFCHR | 0666, makedev(1, 7)) != 0)
        QSKIP("device nodes cannot be made here");
    saveSnapshot(fx, null);
    QCOMPARE(fx.seam.count(QStringLiteral("box")), 1);
    QVERIFY(S_ISCHR(statOf(null, false).st_mode));

    fx.seam.clear();
    saveSnapshot(fx, full);
    const auto boxes = fx.seam.of(QStringLiteral("box"));
    QCOMPARE(boxes.size(), 2);
    QCOMPARE(boxes[1].caption, QStringLiteral("Error"));
    QCOMPARE(boxes[1].text, QStringLiteral("Cannot save %1: %2").arg(full, QString::fromLocal8Bit(std::strerror(ENOSPC))));
    QVERIFY(S_ISCHR(statOf(full, false).st_mode));
    QCOMPARE(statOf(full).st_rdev, makedev(1, 7));
}

void TestFileKinds::settingsFifoAtStartup()
{
    AppFixture fx;
    QCOMPARE(::mkfifo(QFile::encodeName(fx.settingsPath()).constData(), 0600), 0);
    FifoWatch watch(fx.settingsPath());
    fx.create_and_show();
    QVERIFY(!watch.openedForReading());
    QCOMPARE(fx.seam.count(QStringLiteral("message")), 1);
    QCOMPARE(fx.seam.of(QStringLiteral("message")).first().text, QStringLiteral("Initial file was corrupted!!"));
    QCOMPARE(fx.form->rgInterface->itemIndex(), 1);
    QCOMPARE(fx.form->chosenAddress, 69);
    QCOMPARE(fx.sim.log().first(), initLine(0, 3, 0, 1));

    // A pick to be kept finds no reader: said at once, and the FIFO stays.
    fx.seam.clear();
    clickIndicator(fx, fx.find<QRadioButton>(QStringLiteral("rgInterface_0")));
    QCOMPARE(fx.seam.count(QStringLiteral("error")), 1);
    QVERIFY2(fx.seam.of(QStringLiteral("error")).first().text.contains(fx.settingsPath()),
             qPrintable(fx.seam.of(QStringLiteral("error")).first().text));
    QVERIFY(S_ISFIFO(statOf(fx.settingsPath(), false).st_mode));
}

void TestFileKinds::settingsThroughLink()
{
    AppFixture fx;
    const QString real = QDir(fx.configDir()).filePath(QStringLiteral("real.ini"));
    QFile f(real);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[SerialInterface]\nType=1\nAddr=0x00\n");
    f.close();
    QCOMPARE(::chmod(QFile::encodeName(real).constData(), 0640), 0);
    QVERIFY(QFile::link(real, fx.settingsPath()));
    fx.create_and_show();
    QCOMPARE(fx.seam.count(QStringLiteral("message")), 0);
    clickIndicator(fx, fx.find<QRadioButton>(QStringLiteral("rgInterface_0")));
    QCOMPARE(fx.seam.count(QStringLiteral("error")), 0);
    QVERIFY(S_ISLNK(statOf(fx.settingsPath(), false).st_mode));
    QCOMPARE(fileBytes(real), QByteArray("[SerialInterface]\nAddr=0x44\nType=0\n"));
    QCOMPARE(int(statOf(real).st_mode & 07777), 0640);
}

QTEST_MAIN(TestFileKinds)
#include "tst_filekinds.moc"
