// SPDX-License-Identifier: GPL-3.0-or-later
// Handlers that let events run (the master mute's pause, Reconnect's processing of messages,
// a modal box): a close or another handler arriving meanwhile, through the real windows.
#include "consistency.h"
#include "fixture.h"
#include "uitest.h"

#include "main.h"
#include "pressableimage.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

#include <optional>

namespace {

// A click queued like one the window system delivers, handled when messages are processed.
void postClick(QWidget *w)
{
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    const QPointF global = w->mapToGlobal(at);
    QCoreApplication::postEvent(w, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, {}));
    QCoreApplication::postEvent(w, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, {}));
}

// A close as the window system or the program asks for it, queued.
void postClose(AppFixture &fx, const QString &how)
{
    if (how == QLatin1String("EXIT button"))
        postClick(fx.find<PressableImage>(QStringLiteral("imgExit")));
    else
        QMetaObject::invokeMethod(fx.form, &QWidget::close, Qt::QueuedConnection);
}

int countOf(const QStringList &log, const QString &prefix)
{
    int n = 0;
    for (const QString &l : log)
        n += l.startsWith(prefix);
    return n;
}

QStringList registerWrites(const QStringList &log)
{
    QStringList out;
    for (const QString &l : log)
        if (l.startsWith(QLatin1String("_writeData(channel=0")))
            out << l;
    return out;
}

} // namespace

class TestReentry : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void closeDuringMasterMutePause_data();
    void closeDuringMasterMutePause();
    void closeDuringReconnect();
    void closeInsideModalBox();
    void handlerNestedInMutePause_data();
    void handlerNestedInMutePause();

private:
    std::optional<AppFixture> fx;
};

void TestReentry::init()
{
    fx.emplace();
    fx->create_and_show();
    QVERIFY(fx->form->boardPort() != 0);
    fx->sim.clearLog();
    fx->seam.clear();
}

void TestReentry::cleanup()
{
    fx->destroy();
    fx.reset();
}

void TestReentry::closeDuringMasterMutePause_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("how");
    QTest::newRow("DAC, window closed") << "DAC" << "window closed";
    QTest::newRow("ADC, window closed") << "ADC" << "window closed";
    QTest::newRow("DAC, EXIT button") << "DAC" << "EXIT button";
}

void TestReentry::closeDuringMasterMutePause()
{
    QFETCH(QString, page);
    QFETCH(QString, how);
    const bool dac = page == QLatin1String("DAC");
    clickIndicator(*fx, fx->find<QRadioButton>(QStringLiteral("rg%1AttMode_1").arg(page)));
    fx->sim.clearLog();
    auto *mute = fx->find<QToolButton>(QStringLiteral("sb%1Mute").arg(page));
    bool posted = false;
    fx->seam.onSleep = [&](int ms) {
        if (ms == 200 && !posted) {
            posted = true;
            postClose(*fx, how);
        }
    };
    showPageOf(*fx, mute);
    QTest::mouseClick(mute, Qt::LeftButton);
    fx->seam.onSleep = nullptr;
    QVERIFY(posted);

    // The mute ends as written, against the loaded library; then the window closes and the
    // board is closed once, as at any close.
    QTRY_VERIFY(!fx->sim.isOpen());
    const QStringList log = fx->sim.log();
    QCOMPARE(log, (QStringList{regLine(dac ? 0x44 : 0x55, dac ? 0xFF : 0x3F), QStringLiteral("_close() = 0")}));
    QVERIFY(!fx->form->isVisible());
    QVERIFY(!fx->form->boardSession.isLoaded());
    // Nothing that still arrives reaches a board.
    QTest::mouseClick(mute, Qt::LeftButton);
    fx->destroy();
    QCOMPARE(fx->sim.log(), log);
}

void TestReentry::closeDuringReconnect()
{
    // Closed at once: the close waits in the queue for Reconnect's processing of messages.
    postClose(*fx, QStringLiteral("window closed"));
    clickPush(*fx, "bBDRST");
    QTRY_VERIFY(!fx->sim.isOpen());
    const QStringList log = fx->sim.log();
    QCOMPARE(countOf(log, QStringLiteral("_close")), 2);
    QCOMPARE(log.first(), QStringLiteral("_close() = 0"));
    QCOMPARE(log.last(), QStringLiteral("_close() = 0"));
    QCOMPARE(countOf(log, QStringLiteral("_init")), 1);
    // Reconnect finished its sequence before the close: the chip reset and every line driven.
    QCOMPARE(registerWrites(log), QStringList{regLine(0x40, 0x40)});
    QCOMPARE(countOf(log, QStringLiteral("_writeData(channel=7")), 15);
    QVERIFY(controlsAgainstShadow(fx->form, true).isEmpty());
    fx->destroy();
    QCOMPARE(fx->sim.log(), log);
}

void TestReentry::closeInsideModalBox()
{
    // The overwrite question is up when the close comes: the snapshot still reads the chip
    // through the loaded library and is saved; the window closes after.
    const QString path = fx->file(QStringLiteral("snap.csv"));
    QFile(path).open(QIODevice::WriteOnly);
    fx->seam.fileNames << path;
    fx->seam.answers << UiSeam::Yes;
    fx->seam.onBox = [&](const RecordingSeam::Call &) { QVERIFY(!fx->form->close()); };
    fx->form->findChild<QAction *>(QStringLiteral("SaveRegisterDump"))->trigger();
    fx->seam.onBox = nullptr;
    QTRY_VERIFY(!fx->sim.isOpen());
    const QStringList log = fx->sim.log();
    QCOMPARE(countOf(log, QStringLiteral("_readData")), 31);
    QCOMPARE(log.last(), QStringLiteral("_close() = 0"));
    const QByteArray saved = fileBytes(path);
    QCOMPARE(saved.size(), 372);
    QVERIFY(saved.startsWith("0x40, 0xC0\r\n"));
}

void TestReentry::handlerNestedInMutePause_data()
{
    QTest::addColumn<QString>("nested");
    QTest::addColumn<QStringList>("writes"); // register writes, in order
    QTest::newRow("MRST") << "btnMRST" << QStringList{regLine(0x40, 0x40), regLine(0x44, 0xFF)};
    QTest::newRow("RESET") << "btnRESET" << QStringList{regLine(0x44, 0xFF)};
    QTest::newRow("Reconnect") << "bBDRST" << QStringList{regLine(0x40, 0x40), regLine(0x44, 0xFF)};
    QTest::newRow("SRST") << "btnSRST" << QStringList{regLine(0x40, 0x80), regLine(0x44, 0xFF)};
    QTest::newRow("a channel's Mute box") << "cDAC3" << QStringList{regLine(0x44, 0xFB), regLine(0x44, 0xFF)};
}

void TestReentry::handlerNestedInMutePause()
{
    QFETCH(QString, nested);
    QFETCH(QStringList, writes);
    TForm1 *f = fx->form;
    clickIndicator(*fx, fx->find<QRadioButton>(QStringLiteral("rgDACAttMode_1")));
    fx->sim.clearLog();
    auto *mute = fx->find<QToolButton>(QStringLiteral("sbDACMute"));
    bool posted = false;
    fx->seam.onSleep = [&](int ms) {
        if (ms == 200 && !posted) {
            posted = true;
            auto *target = fx->find<QWidget>(nested);
            if (auto *box = qobject_cast<QCheckBox *>(target)) {
                const QPointF at(6, box->height() / 2.0);
                QCoreApplication::postEvent(box, new QMouseEvent(QEvent::MouseButtonPress, at, box->mapToGlobal(at),
                                                                 Qt::LeftButton, Qt::LeftButton, {}));
                QCoreApplication::postEvent(box, new QMouseEvent(QEvent::MouseButtonRelease, at, box->mapToGlobal(at),
                                                                 Qt::LeftButton, Qt::NoButton, {}));
            } else {
                postClick(target);
            }
        }
    };
    showPageOf(*fx, mute);
    QTest::mouseClick(mute, Qt::LeftButton);
    fx->seam.onSleep = nullptr;
    QVERIFY(posted);

    // The mute's final write is made as written and is the last; the boxes then show it.
    QCOMPARE(registerWrites(fx->sim.log()), writes);
    QCOMPARE(fx->sim.reg(0x44), 0xFF);
    QCOMPARE(int(f->shadow.byte(0x44)), 0xFF);
    for (int i = 20; i <= 27; ++i)
        QVERIFY2(f->checkTable[i].box->isChecked(), qPrintable(f->checkTable[i].box->objectName()));
    const QStringList wrong = controlsAgainstShadow(f);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
    // The shadow holds what the chip holds, in the bits it keeps.
    for (int reg = 0x41; reg <= 0x5E; ++reg)
        if (reg != 0x45 && reg != 0x56)
            QVERIFY2(fx->sim.reg(reg) == f->shadow.byte(reg), qPrintable(hex2(reg)));
    QVERIFY(!f->ioSuppressed);
    QVERIFY(f->historyEnabled);
}

QTEST_MAIN(TestReentry)
#include "tst_reentry.moc"
