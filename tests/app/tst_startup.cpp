// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up, shutdown and the access primitives, through the real windows and
// the simulated board loaded by the real loader.
#include "fixture.h"
#include "uitest.h"

#include "about.h"
#include "inttext.h"
#include "main.h"
#include "pictures.h"
#include "pressableimage.h"
#include "regview.h"
#include "splash.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>

using Call = RecordingSeam::Call;

namespace {

bool showsPicture(QLabel *label, const QPixmap &expected)
{
    return label->pixmap().toImage() == expected.toImage();
}

QStringList startupLines()
{
    QStringList pins;
    const QList<QPair<int, int>> order = {{0, 0},   {4, 1},   {11, 85}, {12, 85}, {13, 85}, {14, 85},
                                          {15, 85}, {53, 1},  {55, 1},  {52, 1},  {54, 1},  {49, 1},
                                          {48, 1},  {47, 1},  {46, 1},  {50, 1},  {51, 1}};
    for (const auto &[pin, value] : order)
        pins << QStringLiteral("_writeData(channel=7, pin=%1, value=%2) = 0").arg(pin).arg(value);
    return pins;
}

void typeInto(QLineEdit *edit, const QString &text)
{
    edit->selectAll();
    QTest::keyClicks(edit, text);
}
} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void connected();
    void connectedLineSequenceAndReadBack();
    void noBoard();
    void noLibrary();
    void invalidLibrary();
    void closeCallsCloseOnce_data();
    void closeCallsCloseOnce();
    void readBackFailureReportedOnce();
    void writeFailureReportedOnce();
    void errorCodeSuffix_data();
    void errorCodeSuffix();
    void pinFailureReportedEveryTime();
    void suppressedWriteUpdatesShadowOnly();
    void directAccessWithEnter();
    void directAccessOutsideRegisters_data();
    void directAccessOutsideRegisters();
    void directAccessRefused_data();
    void directAccessRefused();
    void directReadWithoutBoard();
    void registerMapColours();
    void registerMapWindow();
    void aboutBox_data();
    void aboutBox();
    void pictureButtonPressedLook();
    void exitReleasedOutsideDoesNotClose();
};

void TestStartup::connected()
{
    AppFixture fx;
    fx.create_and_show();
    QCOMPARE(statusText(fx), QStringLiteral("Ready"));
    QVERIFY(showsPicture(fx.find<QLabel>(QStringLiteral("imgConnection")), pictures::connectionPlate(1)));
    QVERIFY(historyOf(fx).isEmpty());
    QCOMPARE(fx.seam.count(QStringLiteral("box")), 0);
    QCOMPARE(fx.seam.count(QStringLiteral("message")), 0);
    QVERIFY(!fx.form->ioSuppressed);
    QVERIFY(fx.form->historyEnabled);
    QCOMPARE(fx.form->boardPort(), 1);
    QVERIFY(SplashForm->isHidden());
    // The bar stood at 30, its maximum, for the last read of the read-back.
    QCOMPARE(SplashForm->ProgressBar1->maximum(), 30);
    QCOMPARE(SplashForm->ProgressBar1->value(), 30);
}

void TestStartup::connectedLineSequenceAndReadBack()
{
    AppFixture fx;
    fx.sim.poke(0x43, 0x05); // something the read-back must bring into the controls
    fx.create_and_show();
    const QStringList log = fx.sim.log();
    QVERIFY(log.size() > 1 + 17 + 31);
    QCOMPARE(log[0], QStringLiteral("_init(port=0, interface=3, address=0x00, word56=3) = 1"));
    QCOMPARE(log.mid(1, 17), startupLines());
    for (int i = 0; i < 31; ++i)
        QVERIFY2(log[18 + i].startsWith(QStringLiteral("_readData(channel=0, reg=0x%1) = 0").arg(QString::fromStdString(evm::hexText(0x40 + i, 2)))),
                 qPrintable(log[18 + i]));
    QCOMPARE(int(fx.form->shadow.byte(0x43)), 0x05);
    QVERIFY(fx.find<QCheckBox>(QStringLiteral("cInvDAC1"))->isChecked());
    QVERIFY(fx.find<QCheckBox>(QStringLiteral("cInvDAC3"))->isChecked());
    // The refresh re-issues, unlogged, the write of each control it changed, with the shadow's byte.
    QCOMPARE(log.mid(49), QStringList({QStringLiteral("_writeData(channel=0, reg=0x43, value=0x05) = 0"),
                                       QStringLiteral("_writeData(channel=0, reg=0x43, value=0x05) = 0")}));
    QVERIFY(historyOf(fx).isEmpty());
}

void TestStartup::noBoard()
{
    AppFixture fx;
    fx.sim.setPresent(false);
    fx.create_and_show();
    const auto boxes = fx.seam.of(QStringLiteral("box"));
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].text, QStringLiteral("No EVM was found"));
    QCOMPARE(boxes[0].caption, QStringLiteral("Error"));
    QCOMPARE(boxes[0].icon, UiSeam::Icon::Error);
    QCOMPARE(statusText(fx), QStringLiteral("No EVM was found"));
    QVERIFY(showsPicture(fx.find<QLabel>(QStringLiteral("imgConnection")), pictures::connectionPlate(0)));
    QVERIFY(fx.form->ioSuppressed);
    QVERIFY(!fx.form->historyEnabled);
    QCOMPARE(fx.form->boardPort(), 0);
    for (int reg = 0x40; reg <= 0x5E; ++reg)
        QCOMPARE(int(fx.form->shadow.byte(reg)), int(evm::powerOnValue(reg)));

    // Nothing reaches the board, the shadow, the map or the history afterwards.
    fx.sim.clearLog();
    const auto before = fx.form->shadow.bytes;
    QTest::mouseClick(fx.find<QCheckBox>(QStringLiteral("cInvDAC3")), Qt::LeftButton);
    QCOMPARE(fx.form->shadow.bytes, before);
    QCOMPARE(RegViewForm->shownValue(3), 0);
    QVERIFY(historyOf(fx).isEmpty());
    QVERIFY(fx.sim.log().isEmpty());
}

void TestStartup::noLibrary()
{
    AppFixture fx;
    fx.create_and_show(AppFixture::Library::Missing);
    const auto boxes = fx.seam.of(QStringLiteral("box"));
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].text, QStringLiteral("Cannot load DLL"));
    QCOMPARE(boxes[0].caption, QStringLiteral("DLL error"));
    QCOMPARE(boxes[0].icon, UiSeam::Icon::Error);
    QVERIFY(statusText(fx).isEmpty());
    QVERIFY(fx.find<QLabel>(QStringLiteral("imgConnection"))->pixmap().isNull());
    QVERIFY(!fx.form->boardSession.isLoaded());
    for (uint8_t b : fx.form->shadow.bytes)
        QCOMPARE(int(b), 0);
    // The controls keep their layout values, and no access reaches any library.
    QVERIFY(fx.find<QCheckBox>(QStringLiteral("cbDIN1"))->isChecked());
    QTest::mouseClick(fx.find<QCheckBox>(QStringLiteral("cInvDAC3")), Qt::LeftButton);
    QTest::mouseClick(fx.find<QCheckBox>(QStringLiteral("cbDIN2")), Qt::LeftButton);
    fx.destroy();
    QVERIFY(fx.sim.log().isEmpty());
}

void TestStartup::invalidLibrary()
{
    AppFixture fx;
    fx.create_and_show(AppFixture::Library::WithoutVersion);
    const auto boxes = fx.seam.of(QStringLiteral("box"));
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].text, QStringLiteral("Invalid DLL"));
    QCOMPARE(boxes[0].caption, QStringLiteral("DLL error"));
    QVERIFY(!fx.form->boardSession.isLoaded());
    fx.form->About2Click();
    QCOMPARE(AboutDialog->lDLLver->text(), QStringLiteral("0.0.0.0"));
    QCOMPARE(AboutDialog->lPort->text(), QStringLiteral("0"));
    fx.destroy();
    QVERIFY(fx.sim.log().isEmpty());
}

void TestStartup::closeCallsCloseOnce_data()
{
    QTest::addColumn<bool>("present");
    QTest::newRow("connected") << true;
    QTest::newRow("no board") << false;
}

void TestStartup::closeCallsCloseOnce()
{
    QFETCH(bool, present);
    AppFixture fx;
    fx.sim.setPresent(present);
    fx.create_and_show();
    fx.sim.clearLog();
    fx.form->ExitClick();
    QCOMPARE(fx.sim.log(), QStringList{QStringLiteral("_close() = 0")});
    QVERIFY(!fx.form->boardSession.isLoaded());
    fx.destroy();
    QCOMPARE(fx.sim.log(), QStringList{QStringLiteral("_close() = 0")});
}

void TestStartup::readBackFailureReportedOnce()
{
    AppFixture fx;
    fx.sim.setFault(SimApi::Read, 10, 0x0105);
    fx.sim.poke(0x4A, 0x80); // register 10 of the read-back, the first that fails
    fx.create_and_show();
    const auto messages = fx.seam.of(QStringLiteral("message"));
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].text, QStringLiteral("Communication error: RDERR0105\nPlease check interface setting."));
    QCOMPARE(messages[0].caption, QStringLiteral("EVM control application"));
    QCOMPARE(fx.sim.log(QStringLiteral("_readData")).size(), 31);
    // A failed read yields 0, stored masked; entry 0 still gets its triggers set.
    QCOMPARE(int(fx.form->shadow.byte(0x4A)), 0x00);
    QCOMPARE(int(fx.form->shadow.byte(0x5E)), 0x00);
    QCOMPARE(int(fx.form->shadow.byte(0x49)), 0xFF);
    QCOMPARE(int(fx.form->shadow.byte(0x40)), 0xC0);
    QVERIFY(fx.form->commErrorShown);
}

void TestStartup::writeFailureReportedOnce()
{
    AppFixture fx;
    fx.create_and_show();
    fx.sim.setFault(SimApi::Write, 0, 5);
    fx.form->WriteRegister(0x46, 0x0A);
    fx.form->WriteRegister(0x46, 0x0B);
    fx.sim.setFault(SimApi::Read, 0, 6);
    fx.form->ReadRegister(0x46);
    const auto messages = fx.seam.of(QStringLiteral("message"));
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].text, QStringLiteral("Communication error: WRERR0005"));
    // A failed write still lands in the shadow, the map and the history.
    QCOMPARE(int(fx.form->shadow.byte(0x46)), 0x0B);
    QCOMPARE(RegViewForm->shownValue(6), 0x0B);
    QCOMPARE(historyOf(fx), QStringList({QStringLiteral("0x46, 0x0A"), QStringLiteral("0x46, 0x0B")}));
}

void TestStartup::errorCodeSuffix_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("5") << 5 << QStringLiteral("Communication error: WRERR0005");
    QTest::newRow("0x12345") << 0x12345 << QStringLiteral("Communication error: WRERR12345");
    QTest::newRow("negative") << -2 << QStringLiteral("Communication error: WRERRFFFFFFFE");
}

void TestStartup::errorCodeSuffix()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    AppFixture fx;
    fx.create_and_show();
    fx.sim.setFault(SimApi::Write, 0, code);
    fx.form->WriteRegister(0x41, 1);
    QCOMPARE(fx.seam.of(QStringLiteral("message")).value(0).text, text);
}

void TestStartup::pinFailureReportedEveryTime()
{
    AppFixture fx;
    fx.create_and_show();
    fx.sim.setFault(SimApi::Pin, 0, 5);
    QTest::mouseClick(fx.find<QCheckBox>(QStringLiteral("cbDIN3")), Qt::LeftButton);
    QTest::mouseClick(fx.find<QCheckBox>(QStringLiteral("cbDIN3")), Qt::LeftButton);
    const auto messages = fx.seam.of(QStringLiteral("message"));
    QCOMPARE(messages.size(), 2);
    QCOMPARE(messages[0].text, QStringLiteral("Communication error: SPERR0005"));
    QCOMPARE(messages[1].text, QStringLiteral("Communication error: SPERR0005"));
    QVERIFY(!fx.form->commErrorShown);
}

void TestStartup::suppressedWriteUpdatesShadowOnly()
{
    AppFixture fx;
    fx.create_and_show();
    fx.sim.clearLog();
    fx.form->ioSuppressed = true;
    fx.form->WriteRegister(0x46, 0x0A);
    fx.form->WriteBoardPin(47, 0);
    QVERIFY(fx.sim.log().isEmpty());
    QCOMPARE(int(fx.form->shadow.byte(0x46)), 0x0A);
    QCOMPARE(RegViewForm->shownValue(6), 0x0A);
    QCOMPARE(historyOf(fx), QStringList{QStringLiteral("0x46, 0x0A")});
}

void TestStartup::directAccessWithEnter()
{
    AppFixture fx;
    fx.create_and_show();
    fx.sim.clearLog();
    auto *reg = fx.find<QLineEdit>(QStringLiteral("RDA_reg"));
    auto *data = fx.find<QLineEdit>(QStringLiteral("RDA_data"));
    QCOMPARE(reg->text(), QStringLiteral("0x40"));
    QCOMPARE(data->text(), QStringLiteral("0x00"));
    typeInto(reg, QStringLiteral("0x46"));
    typeInto(data, QStringLiteral("0x0A"));
    QTest::keyClick(data, Qt::Key_Return);
    QCOMPARE(fx.sim.log(), QStringList{QStringLiteral("_writeData(channel=0, reg=0x46, value=0x0A) = 0")});
    QCOMPARE(historyOf(fx), QStringList{QStringLiteral("0x46, 0x0A")});
    QCOMPARE(data->text(), QStringLiteral("0x0A")); // the Enter character never reached the edit

    fx.sim.poke(0x47, 0x3C);
    typeInto(reg, QStringLiteral("$47"));
    QTest::keyClick(reg, Qt::Key_Enter);
    QCOMPARE(data->text(), QStringLiteral("0x3C"));
    QCOMPARE(int(fx.form->shadow.byte(0x47)), 0xFF); // a read changes no shadow
    // Other keys do nothing.
    fx.sim.clearLog();
    QTest::keyClick(reg, Qt::Key_Tab);
    QTest::keyClick(data, Qt::Key_A);
    QVERIFY(fx.sim.log().isEmpty());
}

void TestStartup::directAccessOutsideRegisters_data()
{
    QTest::addColumn<QString>("reg");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("logged");
    QTest::addColumn<QString>("historyLine");
    QTest::newRow("0x3F") << "0x3F" << "0x12" << "_writeData(channel=0, reg=0x3F, value=0x12) = 0x0005" << "0x3F, 0x12";
    QTest::newRow("0x5F") << "0x5F" << "0x12" << "_writeData(channel=0, reg=0x5F, value=0x12) = 0x0005" << "0x5F, 0x12";
    QTest::newRow("0xFF, the largest value") << "0x41" << "0xFF" << "_writeData(channel=0, reg=0x41, value=0xFF) = 0" << "0x41, 0xFF";
}

void TestStartup::directAccessOutsideRegisters()
{
    QFETCH(QString, reg);
    QFETCH(QString, data);
    QFETCH(QString, logged);
    QFETCH(QString, historyLine);
    AppFixture fx;
    fx.create_and_show();
    fx.sim.clearLog();
    const auto before = fx.form->shadow.bytes;
    fx.find<QLineEdit>(QStringLiteral("RDA_reg"))->setText(reg);
    fx.find<QLineEdit>(QStringLiteral("RDA_data"))->setText(data);
    fx.form->WriteClick();
    QCOMPARE(fx.sim.log().value(0), logged);
    QCOMPARE(historyOf(fx).value(0), historyLine);
    auto after = fx.form->shadow.bytes;
    if (reg == QLatin1String("0x41")) {
        QCOMPARE(int(after[1]), 0xFF);
        after[1] = before[1];
    }
    QCOMPARE(after, before);
}

void TestStartup::directAccessRefused_data()
{
    QTest::addColumn<QString>("reg");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("named");
    QTest::newRow("bad data") << "0x41" << "0x1G" << "0x1G";
    QTest::newRow("bad register") << "reg" << "0x01" << "reg";
    QTest::newRow("both bad: data first") << "reg" << "" << "''";
    // A value beyond a byte is refused before anything is written: its history line would stop a
    // replay of the saved history there, after the lines before it had already changed the chip.
    QTest::newRow("0x1FF") << "0x41" << "0x1FF" << "0x1FF is not a register value: the data must be 0x00 to 0xFF";
    QTest::newRow("256") << "0x41" << " 256" << "256 is not a register value";
    QTest::newRow("negative") << "0x41" << "-1" << "-1 is not a register value";
}

void TestStartup::directAccessRefused()
{
    QFETCH(QString, reg);
    QFETCH(QString, data);
    QFETCH(QString, named);
    AppFixture fx;
    fx.create_and_show();
    fx.sim.clearLog();
    fx.find<QLineEdit>(QStringLiteral("RDA_reg"))->setText(reg);
    fx.find<QLineEdit>(QStringLiteral("RDA_data"))->setText(data);
    QTest::keyClick(fx.find<QLineEdit>(QStringLiteral("RDA_data")), Qt::Key_Return);
    const auto errors = fx.seam.of(QStringLiteral("error"));
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].text.contains(named), qPrintable(errors[0].text));
    QVERIFY(fx.sim.log().isEmpty());
    QVERIFY(historyOf(fx).isEmpty());
    QCOMPARE(fx.sim.reg(0x41), 0x00);
    QCOMPARE(int(fx.form->shadow.byte(0x41)), 0x00);
}

void TestStartup::directReadWithoutBoard()
{
    AppFixture fx;
    fx.sim.setPresent(false);
    fx.create_and_show();
    auto *data = fx.find<QLineEdit>(QStringLiteral("RDA_data"));
    data->setText(QStringLiteral("0x55"));
    QTest::keyClick(fx.find<QLineEdit>(QStringLiteral("RDA_reg")), Qt::Key_Return);
    QCOMPARE(data->text(), QStringLiteral("0x00"));
}

void TestStartup::registerMapColours()
{
    AppFixture fx;
    fx.create_and_show();
    auto colour = [](int row, int col) { return RegViewForm->cell(row, col)->palette().color(QPalette::Window); };
    // A write lights the row as written, though the shadow keeps no flag; the refresh puts it back.
    fx.form->WriteRegister(0x45, 0xFF);
    for (int col = 0; col < 8; ++col)
        QCOMPARE(colour(5, col), TRegViewForm::oneColour());
    QCOMPARE(int(fx.form->shadow.byte(0x45)), 0);
    fx.form->RefreshControls();
    for (int col = 0; col < 8; ++col)
        QCOMPARE(colour(5, col), TRegViewForm::zeroColour());

    // 0x40: the map shows the triggers lit and bits 5..2 dark; the refresh shows the kept bits.
    fx.form->WriteRegister(0x40, 0xFC);
    QCOMPARE(RegViewForm->shownValue(0), 0xC0);
    fx.form->RefreshControls();
    QCOMPARE(RegViewForm->shownValue(0), 0xFC);
    QCOMPARE(colour(0, 2), TRegViewForm::oneColour()); // bit 5
    QCOMPARE(colour(0, 7), TRegViewForm::zeroColour()); // bit 0
    QCOMPARE(RegViewForm->cell(6, 2)->text(), QStringLiteral("DEMP1"));
}

void TestStartup::registerMapWindow()
{
    AppFixture fx;
    fx.create_and_show();
    QVERIFY(RegViewForm->isHidden());
    fx.form->RegisterMap1Click();
    QVERIFY(RegViewForm->isVisible());
    QVERIFY(!RegViewForm->isModal());
    QCOMPARE(RegViewForm->windowTitle(), QStringLiteral("Register View"));
    QTest::mouseClick(RegViewForm->findChild<QPushButton *>(QStringLiteral("bClose")), Qt::LeftButton);
    QVERIFY(RegViewForm->isHidden());
    fx.form->RegisterMap1Click();
    RegViewForm->close(); // the title-bar close box
    QVERIFY(RegViewForm->isHidden());
    QVERIFY(RegViewForm->cell(30, 7)); // hidden, not destroyed
    // Updates reach the hidden window.
    fx.form->WriteRegister(0x5E, 0x01);
    QCOMPARE(RegViewForm->shownValue(30), 0x01);
}

void TestStartup::aboutBox_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("port");
    QTest::newRow("connected") << true << "1";
    QTest::newRow("no board") << false << "0";
}

void TestStartup::aboutBox()
{
    QFETCH(bool, present);
    QFETCH(QString, port);
    AppFixture fx;
    fx.sim.setPresent(present);
    fx.create_and_show();
    fx.form->About2Click();
    QCOMPARE(fx.seam.of(QStringLiteral("dialog")).size(), 1);
    QCOMPARE(AboutDialog->lDLLver->text(), QStringLiteral("1.0.0.0"));
    QCOMPARE(AboutDialog->lPort->text(), port);
    fx.sim.setVersion(0x1100);
    fx.form->About2Click();
    QCOMPARE(AboutDialog->lDLLver->text(), QStringLiteral("1.1.0.0"));
}

void TestStartup::pictureButtonPressedLook()
{
    AppFixture fx;
    fx.create_and_show();
    auto *img = fx.find<PressableImage>(QStringLiteral("imgSave"));
    const QPoint home = img->pos();
    QCOMPARE(img->height(), 24);
    QTest::mousePress(img, Qt::LeftButton, {}, QPoint(70, 20));
    QCOMPARE(img->pos(), home + QPoint(1, 1));
    QCOMPARE(img->height(), 23);
    QTest::mouseRelease(img, Qt::LeftButton, {}, QPoint(200, 200)); // outside: no save dialog
    QCOMPARE(img->pos(), home);
    QCOMPARE(img->height(), 24);
    QCOMPARE(fx.seam.count(QStringLiteral("save")), 0);
    QTest::mouseClick(img, Qt::LeftButton);
    QTest::mouseClick(img, Qt::LeftButton);
    QCOMPARE(img->pos(), home);
    QCOMPARE(img->height(), 24);
    QCOMPARE(fx.seam.count(QStringLiteral("save")), 2); // cancelled twice
}

void TestStartup::exitReleasedOutsideDoesNotClose()
{
    AppFixture fx;
    fx.create_and_show();
    auto *img = fx.find<PressableImage>(QStringLiteral("imgExit"));
    const QPoint home = img->pos();
    QTest::mousePress(img, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(img, Qt::LeftButton, {}, QPoint(-50, 10));
    QCOMPARE(img->pos(), home);
    QVERIFY(fx.form->isVisible());
    QVERIFY(fx.form->boardSession.isLoaded());
    QTest::mouseClick(img, Qt::LeftButton);
    QVERIFY(!fx.form->isVisible());
    QVERIFY(!fx.form->boardSession.isLoaded());
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
