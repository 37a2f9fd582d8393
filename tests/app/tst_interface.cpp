// SPDX-License-Identifier: GPL-3.0-or-later
// The interface choice read from EVM5170.ini at start-up, the interface and address
// picks with what they write and how they re-open the board, and Reconnect with and
// without a board, all through the real windows and read back from the simulator's log.
#include "fixture.h"
#include "uitest.h"

#include "fieldmath.h"
#include "main.h"
#include "pictures.h"
#include "radiogroup.h"
#include "regview.h"
#include "shadow.h"
#include "splash.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>

#include <unistd.h>

namespace {

const QString kCorrupted = QStringLiteral("Initial file was corrupted!!");

QStringList fileLines(const QString &path)
{
    return QString::fromLatin1(fileBytes(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void clickInterface(const AppFixture &fx, int item)
{
    clickIndicator(fx, fx.find<QRadioButton>(QStringLiteral("rgInterface_%1").arg(item)));
}

QComboBox *cbAddr(const AppFixture &fx)
{
    return fx.find<QComboBox>(QStringLiteral("cbAddr"));
}

// Every bound control against the shadow: the mismatches, named.
QStringList controlsDifferingFromShadow(const TForm1 *form)
{
    QStringList out;
    for (const SliderBinding &row : form->sliderTable)
        if (row.track->value() != form->shadow.byte(row.reg))
            out << row.track->objectName();
    for (const CheckBinding &row : form->checkTable)
        if (row.box->isChecked() != bool((form->shadow.byte(row.reg) >> row.bit) & 1))
            out << row.box->objectName();
    for (const ComboBinding &row : form->comboTable)
        if (row.combo->currentIndex() != evm::fieldValue(form->shadow.byte(row.reg), row.shift, row.width))
            out << row.combo->objectName();
    for (const RadioBinding &row : form->radioTable)
        if (row.group->itemIndex() != ((form->shadow.byte(row.reg) >> row.bit) & 1))
            out << row.group->objectName();
    return out;
}

QImage connectionPicture(const AppFixture &fx)
{
    return fx.find<QLabel>(QStringLiteral("imgConnection"))->pixmap().toImage();
}

} // namespace

class TestInterface : public QObject
{
    Q_OBJECT

private slots:
    void startupReadsSettings_data();
    void startupReadsSettings();
    void unreadableSettingsFile_data();
    void unreadableSettingsFile();
    void switchInterface_data();
    void switchInterface();
    void settingsWriteFailureEndsHandler();
    void pickAddress();
    void withoutLibrary_data();
    void withoutLibrary();
    void reconnectWithBoard();
    void reconnectSilencesItsResetWrite();
    void reconnectWithoutBoard();
};

void TestInterface::startupReadsSettings_data()
{
    QTest::addColumn<QByteArray>("ini"); // empty: no settings file
    QTest::addColumn<bool>("corrupted");
    QTest::addColumn<int>("item");       // of rgInterface
    QTest::addColumn<QString>("addr");   // cbAddr's text
    QTest::addColumn<int>("chosen");
    QTest::addColumn<int>("interfaceCode");
    QTest::addColumn<int>("address");

    QTest::newRow("first run, no file") << QByteArray() << false << 1 << "00" << 0 << 3 << 0x00;
    QTest::newRow("IIC 0x47") << QByteArray("[SerialInterface]\nType=0\nAddr=0x47\n") << false << 0 << "11" << 0x47 << 1 << 0x47;
    QTest::newRow("IIC 71") << QByteArray("[SerialInterface]\nType=0\nAddr=71\n") << false << 0 << "11" << 0x47 << 1 << 0x47;
    QTest::newRow("IIC 0x50 out of range") << QByteArray("[SerialInterface]\nType=0\nAddr=0x50\n") << false << 0 << "00" << 0x44 << 1 << 0x44;
    QTest::newRow("SPI 0x44") << QByteArray("[SerialInterface]\nType=1\nAddr=0x44\n") << false << 1 << "00" << 0 << 3 << 0x00;
    QTest::newRow("SPI 2") << QByteArray("[SerialInterface]\nType=1\nAddr=2\n") << false << 1 << "10" << 2 << 3 << 0x00;
    QTest::newRow("only Type 0") << QByteArray("[SerialInterface]\nType=0\n") << false << 0 << "01" << 0x45 << 1 << 0x45;
    QTest::newRow("Type letters") << QByteArray("[SerialInterface]\nType=IIC\nAddr=0x47\n") << true << 1 << "00" << 69 << 3 << 0x00;
    // The interface follows Type; the box stays on "00" while the connection uses 69.
    QTest::newRow("Addr letters on IIC") << QByteArray("[SerialInterface]\nType=0\nAddr=high\n") << true << 0 << "00" << 69 << 1 << 0x45;
    QTest::newRow("Addr empty on SPI") << QByteArray("[SerialInterface]\nType=1\nAddr=\n") << true << 1 << "00" << 69 << 3 << 0x00;
}

void TestInterface::startupReadsSettings()
{
    QFETCH(QByteArray, ini);
    QFETCH(bool, corrupted);
    QFETCH(int, item);
    QFETCH(QString, addr);
    QFETCH(int, chosen);
    QFETCH(int, interfaceCode);
    QFETCH(int, address);

    AppFixture fx;
    if (!ini.isEmpty())
        fx.writeSettings(ini);
    // The board answers at the address the program should use, so the start-up is otherwise clean.
    if (interfaceCode == 1)
        fx.sim.setIicAddress(address);
    fx.create_and_show();

    QCOMPARE(fx.form->rgInterface->itemIndex(), item);
    QVERIFY(fx.find<QRadioButton>(QStringLiteral("rgInterface_%1").arg(item))->isChecked());
    QCOMPARE(cbAddr(fx)->currentText(), addr);
    QCOMPARE(cbAddr(fx)->isEnabled(), item == 0);
    QCOMPARE(fx.form->chosenAddress, chosen);
    QCOMPARE(fx.form->connectionSettings().interfaceCode, interfaceCode);
    QCOMPARE(fx.form->connectionSettings().deviceAddress, address);
    QCOMPARE(fx.form->connectionSettings().word56, 3);

    const QStringList log = fx.sim.log();
    QVERIFY(!log.isEmpty());
    QCOMPARE(log.first(), initLine(0, interfaceCode, address, 1));
    QCOMPARE(fx.sim.log(QStringLiteral("_init")).size(), 1);

    QList<QString> messages;
    for (const auto &m : fx.seam.of(QStringLiteral("message")))
        messages << m.text;
    QCOMPARE(messages, corrupted ? QList<QString>{kCorrupted} : QList<QString>{});
    if (corrupted)
        QCOMPARE(fx.seam.of(QStringLiteral("message")).first().caption, QStringLiteral("EVM control application"));
    QCOMPARE(fx.seam.count(QStringLiteral("box")), 0);
    QCOMPARE(fx.seam.count(QStringLiteral("error")), 0);

    // Neither the reading, nor a corrected value, nor closing writes the file.
    fx.destroy();
    QCOMPARE(QFile::exists(fx.settingsPath()), !ini.isEmpty());
    if (!ini.isEmpty())
        QCOMPARE(fileBytes(fx.settingsPath()), ini);
}

void TestInterface::unreadableSettingsFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("malformed section line") << "malformed";
    QTest::newRow("stray line") << "stray";
    QTest::newRow("a directory") << "directory";
    QTest::newRow("no permission") << "permission";
}

void TestInterface::unreadableSettingsFile()
{
    QFETCH(QString, kind);

    AppFixture fx;
    QByteArray ini = "[SerialInterface]\nType=0\nAddr=0x47\n";
    if (kind == QLatin1String("malformed"))
        ini = "[SerialInterface\nType=0\nAddr=0x47\n";
    else if (kind == QLatin1String("stray"))
        ini = "[SerialInterface]\nType=0\nIIC\nAddr=0x47\n";
    if (kind == QLatin1String("directory")) {
        QVERIFY(QDir(fx.configDir()).mkdir(QStringLiteral("EVM5170.ini")));
    } else {
        if (kind == QLatin1String("permission") && geteuid() == 0)
            QSKIP("root reads a file whatever its permissions");
        fx.writeSettings(ini);
        if (kind == QLatin1String("permission"))
            QVERIFY(QFile::setPermissions(fx.settingsPath(), {}));
    }
    fx.sim.setIicAddress(0x47);
    fx.create_and_show();

    QCOMPARE(fx.seam.count(QStringLiteral("message")), 1);
    QCOMPARE(fx.seam.of(QStringLiteral("message")).first().text, kCorrupted);
    QCOMPARE(fx.form->rgInterface->itemIndex(), 1);
    QCOMPARE(fx.form->chosenAddress, 69);
    QCOMPARE(cbAddr(fx)->currentIndex(), 0);
    QVERIFY(!cbAddr(fx)->isEnabled());
    QCOMPARE(fx.sim.log().first(), initLine(0, 3, 0, 1));

    fx.destroy();
    if (kind == QLatin1String("directory")) {
        QVERIFY(QFileInfo(fx.settingsPath()).isDir());
    } else {
        if (kind == QLatin1String("permission"))
            QVERIFY(QFile::setPermissions(fx.settingsPath(), QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(fileBytes(fx.settingsPath()), ini);
    }
}

void TestInterface::switchInterface_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("strapped"); // the board's IIC address
    QTest::addColumn<int>("click");
    QTest::addColumn<int>("interfaceCode");
    QTest::addColumn<int>("address");  // what the re-opened connection uses
    QTest::addColumn<int>("chosen");   // afterwards
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("addr");

    // Going to IIC re-opens with the address chosen before the switch; the next Reconnect uses 0x44.
    QTest::newRow("SPI to IIC") << QByteArray() << 0x44 << 0 << 1 << 0x00 << 0x44 << "Type=0" << "Addr=0x44";
    QTest::newRow("SPI at 2 to IIC") << QByteArray("[SerialInterface]\nType=1\nAddr=2\n") << 0x44 << 0 << 1 << 0x02 << 0x44
                                     << "Type=0" << "Addr=0x44";
    QTest::newRow("IIC to SPI") << QByteArray("[SerialInterface]\nType=0\nAddr=0x46\n") << 0x46 << 1 << 3 << 0x00 << 0x00
                                << "Type=1" << "Addr=0x00";
    // A file that could not be read must not stop the pick from being saved and applied.
    QTest::newRow("SPI to IIC after a malformed file") << QByteArray("[SerialInterface\nType=1\n") << 0x44 << 0 << 1 << 69
                                                       << 0x44 << "Type=0" << "Addr=0x44";
    QTest::newRow("SPI to IIC after a stray line") << QByteArray("[SerialInterface]\nType=1\nAddr=2\njunk\n") << 0x44 << 0 << 1
                                                   << 69 << 0x44 << "Type=0" << "Addr=0x44";
}

void TestInterface::switchInterface()
{
    QFETCH(QByteArray, ini);
    QFETCH(int, strapped);
    QFETCH(int, click);
    QFETCH(int, interfaceCode);
    QFETCH(int, address);
    QFETCH(int, chosen);
    QFETCH(QString, type);
    QFETCH(QString, addr);

    AppFixture fx;
    if (!ini.isEmpty())
        fx.writeSettings(ini);
    fx.sim.setIicAddress(strapped);
    fx.create_and_show();
    QCOMPARE(fx.form->rgInterface->itemIndex(), 1 - click);
    const int port = fx.form->boardPort();
    QVERIFY(port != 0);
    const QStringList history = historyOf(fx);
    const auto map = mapRows();
    const auto shadow = fx.form->shadow.bytes;
    fx.sim.clearLog();
    fx.seam.clear();

    clickInterface(fx, click);

    QCOMPARE(fx.form->rgInterface->itemIndex(), click);
    QCOMPARE(fx.sim.log(), (QStringList{QStringLiteral("_close() = 0"), initLine(port, interfaceCode, address, port)}));
    QCOMPARE(fx.form->boardPort(), port);
    QCOMPARE(fx.form->connectionSettings().interfaceCode, interfaceCode);
    QCOMPARE(fx.form->connectionSettings().deviceAddress, address);
    QCOMPARE(fx.form->chosenAddress, chosen);
    QCOMPARE(cbAddr(fx)->currentIndex(), 0);
    QCOMPARE(cbAddr(fx)->isEnabled(), click == 0);

    const QStringList lines = fileLines(fx.settingsPath());
    QVERIFY2(lines.contains(QStringLiteral("[SerialInterface]")), qPrintable(lines.join(QLatin1Char('|'))));
    QVERIFY2(lines.contains(type), qPrintable(lines.join(QLatin1Char('|'))));
    QVERIFY2(lines.contains(addr), qPrintable(lines.join(QLatin1Char('|'))));

    // No busy window, no read-back, no refresh, nothing for the user to see but the pick.
    QVERIFY(fx.seam.calls.isEmpty());
    QCOMPARE(statusText(fx), QStringLiteral("Ready"));
    QCOMPARE(historyOf(fx), history);
    QCOMPARE(mapRows(), map);
    QCOMPARE(fx.form->shadow.bytes, shadow);

    // The chosen defaults reach the board at the next Reconnect.
    fx.sim.clearLog();
    clickPush(fx, "bBDRST");
    QCOMPARE(fx.sim.log(QStringLiteral("_init")), QStringList{initLine(0, interfaceCode, click == 0 ? 0x44 : 0, port)});

    fx.destroy();
    const QStringList closed = fileLines(fx.settingsPath());
    QVERIFY(closed.contains(type));
    QVERIFY(closed.contains(addr));
}

void TestInterface::settingsWriteFailureEndsHandler()
{
    AppFixture fx;
    QVERIFY(QDir(fx.configDir()).mkdir(QStringLiteral("EVM5170.ini")));
    fx.create_and_show();
    QCOMPARE(fx.form->rgInterface->itemIndex(), 1);
    fx.sim.clearLog();
    fx.seam.clear();

    clickInterface(fx, 0);

    // The failed write of Type is reported and skips the rest: no re-open, no new address.
    QCOMPARE(fx.seam.count(QStringLiteral("error")), 1);
    QVERIFY(fx.seam.of(QStringLiteral("error")).first().text.contains(QStringLiteral("EVM5170.ini")));
    QVERIFY(fx.sim.log().isEmpty());
    QCOMPARE(fx.form->chosenAddress, 69);
    QVERIFY(!cbAddr(fx)->isEnabled());
    QCOMPARE(fx.form->rgInterface->itemIndex(), 0);
    QCOMPARE(fx.form->connectionSettings().interfaceCode, 1);
    QCOMPARE(fx.form->connectionSettings().deviceAddress, 69);
    fx.destroy();
    QVERIFY(QFileInfo(fx.settingsPath()).isDir());
}

void TestInterface::pickAddress()
{
    AppFixture fx;
    fx.writeSettings("[SerialInterface]\nType=0\nAddr=0x44\n");
    fx.create_and_show();
    QCOMPARE(cbAddr(fx)->currentText(), QStringLiteral("00"));
    QVERIFY(cbAddr(fx)->isEnabled());
    fx.sim.clearLog();
    fx.seam.clear();

    QCOMPARE(cbAddr(fx)->itemText(2), QStringLiteral("10"));
    pick(fx, cbAddr(fx), 2);

    QCOMPARE(fx.form->chosenAddress, 0x46);
    const QStringList lines = fileLines(fx.settingsPath());
    QVERIFY2(lines.contains(QStringLiteral("Addr=0x46")), qPrintable(lines.join(QLatin1Char('|'))));
    QVERIFY(lines.contains(QStringLiteral("Type=0")));
    // Nothing else until Reconnect: no library call, the connection record as it was.
    QVERIFY(fx.sim.log().isEmpty());
    QVERIFY(fx.seam.calls.isEmpty());
    QCOMPARE(fx.form->connectionSettings().interfaceCode, 1);
    QCOMPARE(fx.form->connectionSettings().deviceAddress, 0x44);

    clickPush(fx, "bBDRST");
    QCOMPARE(fx.sim.log(QStringLiteral("_init")), QStringList{initLine(0, 1, 0x46, fx.form->boardPort())});
    QCOMPARE(fx.form->connectionSettings().deviceAddress, 0x46);
}

void TestInterface::withoutLibrary_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("click");

    QTest::newRow("IIC file, pick SPI") << QByteArray("[SerialInterface]\nType=0\nAddr=0x45\n") << 1;
    QTest::newRow("no file, pick IIC") << QByteArray() << 0;
}

void TestInterface::withoutLibrary()
{
    QFETCH(QByteArray, ini);
    QFETCH(int, click);

    AppFixture fx;
    if (!ini.isEmpty())
        fx.writeSettings(ini);
    fx.create(AppFixture::Library::Missing);
    fx.show();
    QCOMPARE(fx.seam.of(QStringLiteral("box")).first().text, QStringLiteral("Cannot load DLL"));
    fx.seam.clear();
    const bool enabled = cbAddr(fx)->isEnabled();
    QCOMPARE(enabled, click == 1);
    const evm::ConnectionSettings before = fx.form->connectionSettings();
    const int chosen = fx.form->chosenAddress;

    clickInterface(fx, click);

    // Only the radio group's own selection changes.
    QCOMPARE(fx.form->rgInterface->itemIndex(), click);
    QCOMPARE(cbAddr(fx)->isEnabled(), enabled);
    QCOMPARE(fx.form->chosenAddress, chosen);
    QCOMPARE(fx.form->connectionSettings().interfaceCode, before.interfaceCode);
    QCOMPARE(fx.form->connectionSettings().deviceAddress, before.deviceAddress);
    QCOMPARE(QFile::exists(fx.settingsPath()), !ini.isEmpty());
    if (!ini.isEmpty())
        QCOMPARE(fileBytes(fx.settingsPath()), ini);

    // Reconnect does nothing at all without the library.
    clickPush(fx, "bBDRST");
    QVERIFY(fx.seam.calls.isEmpty());
    QVERIFY(!SplashForm->isVisible());
    QVERIFY(statusText(fx).isEmpty());

    if (enabled) {
        // An address pick still writes Addr, although the radio group now shows SPI.
        clickInterface(fx, 0);
        pick(fx, cbAddr(fx), 3);
        QCOMPARE(fx.form->chosenAddress, 0x47);
        QVERIFY(fileLines(fx.settingsPath()).contains(QStringLiteral("Addr=0x47")));
        QVERIFY(fileLines(fx.settingsPath()).contains(QStringLiteral("Type=0")));
    }
    QVERIFY(fx.seam.calls.isEmpty());
    QVERIFY(fx.sim.log().isEmpty());
    fx.destroy();
    QCOMPARE(QFile::exists(fx.settingsPath()), !ini.isEmpty());
}

void TestInterface::reconnectWithBoard()
{
    AppFixture fx;
    fx.create_and_show();
    TForm1 *form = fx.form;
    QCOMPARE(form->boardPort(), 1);

    // Move the program away from the power-on state: settings, a lit lamp, routing lines.
    clickIndicator(fx, fx.find<QCheckBox>(QStringLiteral("cDAC3")));
    fx.find<QSlider>(QStringLiteral("tkDAC2"))->setValue(0x80);
    pick(fx, fx.find<QComboBox>(QStringLiteral("cbDEMP")), 3);
    clickIndicator(fx, fx.find<QCheckBox>(QStringLiteral("cbDIN3")));
    clickIndicator(fx, fx.find<QRadioButton>(QStringLiteral("selDout_2")));
    clickPush(fx, "btnZeroRead");
    QCOMPARE(lamps(fx, "ZERO", 8), QStringLiteral("00002200"));
    QVERIFY(form->shadow.byte(0x44) != evm::powerOnValue(0x44));
    QCOMPARE(fx.sim.line(50), 1);
    QCOMPARE(fx.sim.line(51), 0);
    const QStringList history = historyOf(fx);
    QVERIFY(!history.isEmpty());
    fx.sim.clearLog();
    fx.seam.clear();

    struct AtSleep {
        bool busyShown = false;
        QString busyText;
        bool barShown = true;
        bool ioSuppressed = false;
        bool historyEnabled = true;
        bool open = true;
    } atSleep;
    fx.seam.onSleep = [&](int) {
        atSleep = {SplashForm->isVisible(), SplashForm->Label1->text(), SplashForm->ProgressBar1->isVisible(),
                   form->ioSuppressed, form->historyEnabled, fx.sim.isOpen()};
    };

    clickPush(fx, "bBDRST");

    QStringList expected{QStringLiteral("_close() = 0"), initLine(0, 3, 0, 1), regLine(0x40, 0x40), pinLine(0, 0), pinLine(4, 1)};
    for (int pin = 11; pin <= 15; ++pin)
        expected << pinLine(pin, 85);
    // The master/slave combos show "Slave" again; cbDIN3 stays unticked; DOUT keeps its lines.
    expected << pinLine(53, 1) << pinLine(55, 1) << pinLine(52, 1) << pinLine(54, 1) << pinLine(49, 1) << pinLine(48, 1)
             << pinLine(47, 0) << pinLine(46, 1);
    QCOMPARE(fx.sim.log(), expected);
    QCOMPARE(fx.sim.line(50), 1);
    QCOMPARE(fx.sim.line(51), 0);

    QCOMPARE(fx.seam.sleeps(), QList<int>{1000});
    QVERIFY(atSleep.busyShown);
    QCOMPARE(atSleep.busyText, QStringLiteral("Reset in progress ..."));
    QVERIFY(!atSleep.barShown);
    QVERIFY(atSleep.ioSuppressed);
    QVERIFY(!atSleep.historyEnabled);
    QVERIFY(!atSleep.open);
    QCOMPARE(fx.seam.count(QStringLiteral("box")) + fx.seam.count(QStringLiteral("message")), 0);

    // Chip, shadow, controls and map at the power-on values.
    evm::RegisterShadow defaults;
    defaults.fillReadableMask();
    defaults.resetToDefaults();
    for (int reg = evm::FirstRegister; reg <= evm::LastRegister; ++reg) {
        QCOMPARE(form->shadow.byte(reg), defaults.byte(reg));
        if (reg != 0x45) // the zero flags of DAC5 and DAC6 are up: their input is off
            QCOMPARE(fx.sim.reg(reg), int(defaults.byte(reg)));
    }
    QCOMPARE(controlsDifferingFromShadow(form), QStringList{});
    QCOMPARE(fx.find<QComboBox>(QStringLiteral("cbDEMP"))->currentIndex(), 0);
    QVERIFY(!fx.find<QCheckBox>(QStringLiteral("cDAC3"))->isChecked());
    QCOMPARE(RegViewForm->shownValue(0), 0xC0);
    for (int row = 0; row < evm::RegisterCount; ++row)
        QCOMPARE(RegViewForm->shownValue(row), int(defaults.bytes[row]));
    // The routing boxes are no register: they keep what the user set.
    QVERIFY(!fx.find<QCheckBox>(QStringLiteral("cbDIN3"))->isChecked());
    QVERIFY(fx.find<QRadioButton>(QStringLiteral("selDout_2"))->isChecked());

    QCOMPARE(lamps(fx, "ZERO", 8), QStringLiteral("00000000"));
    QCOMPARE(lamps(fx, "OVF", 6), QStringLiteral("000000"));
    QCOMPARE(historyOf(fx), history);
    QCOMPARE(statusText(fx), QStringLiteral("Ready"));
    QCOMPARE(connectionPicture(fx), pictures::connectionPlate(1).toImage());
    QVERIFY(!SplashForm->isVisible());
    QCOMPARE(form->boardPort(), 1);
    QVERIFY(!form->ioSuppressed);
    QVERIFY(form->historyEnabled);
    QVERIFY(!form->commErrorShown);

    // From here on a change is written and logged again.
    fx.sim.clearLog();
    clickIndicator(fx, fx.find<QCheckBox>(QStringLiteral("cDAC3")));
    QCOMPARE(fx.sim.log(), QStringList{regLine(0x44, 0x04)});
    QCOMPARE(historyOf(fx).last(), QStringLiteral("0x44, 0x04"));
}

void TestInterface::reconnectSilencesItsResetWrite()
{
    AppFixture fx;
    fx.create_and_show();
    fx.seam.clear();
    fx.sim.setFault(SimApi::Write, 0, 0x0207);

    clickPush(fx, "bBDRST");

    QCOMPARE(fx.sim.log(QStringLiteral("_writeData(channel=0")),
             QStringList{QStringLiteral("_writeData(channel=0, reg=0x40, value=0x40) = 0x0207")});
    QCOMPARE(fx.seam.count(QStringLiteral("message")), 0);
    QVERIFY(!fx.form->commErrorShown);

    // The silence ends with Reconnect: the next failing write is reported, once.
    clickIndicator(fx, fx.find<QCheckBox>(QStringLiteral("cDAC1")));
    clickIndicator(fx, fx.find<QCheckBox>(QStringLiteral("cDAC2")));
    QCOMPARE(fx.seam.count(QStringLiteral("message")), 1);
    QCOMPARE(fx.seam.of(QStringLiteral("message")).first().text, QStringLiteral("Communication error: WRERR0207"));
}

void TestInterface::reconnectWithoutBoard()
{
    AppFixture fx;
    fx.create_and_show();
    TForm1 *form = fx.form;
    clickIndicator(fx, fx.find<QCheckBox>(QStringLiteral("cDAC3")));
    clickPush(fx, "btnZeroRead");
    const QString zeroLamps = lamps(fx, "ZERO", 8);
    const auto shadow = form->shadow.bytes;
    const auto map = mapRows();
    const QStringList history = historyOf(fx);
    fx.sim.setPresent(false);
    fx.sim.clearLog();
    fx.seam.clear();

    clickPush(fx, "bBDRST");

    QCOMPARE(fx.sim.log(), (QStringList{QStringLiteral("_close() = 0"), initLine(0, 3, 0, 0)}));
    QCOMPARE(fx.seam.count(QStringLiteral("box")), 1);
    const RecordingSeam::Call box = fx.seam.of(QStringLiteral("box")).first();
    QCOMPARE(box.text, QStringLiteral("No EVM was foud"));
    QCOMPARE(box.caption, QStringLiteral("Error"));
    QCOMPARE(box.icon, UiSeam::Icon::Error);
    QCOMPARE(box.buttons, int(UiSeam::Ok));
    QCOMPARE(fx.seam.sleeps(), QList<int>{1000});
    QCOMPARE(statusText(fx), QStringLiteral("No EVM was found"));
    QCOMPARE(connectionPicture(fx), pictures::connectionPlate(0).toImage());
    QVERIFY(!SplashForm->isVisible());
    QCOMPARE(form->boardPort(), 0);
    QVERIFY(form->ioSuppressed);
    QVERIFY(!form->historyEnabled);
    QCOMPARE(form->shadow.bytes, shadow);
    QCOMPARE(mapRows(), map);
    QCOMPARE(historyOf(fx), history);
    QCOMPARE(lamps(fx, "ZERO", 8), zeroLamps);
    QVERIFY(fx.find<QCheckBox>(QStringLiteral("cDAC3"))->isChecked());

    // Afterwards nothing reaches the board, the shadow, the map or the history.
    fx.sim.clearLog();
    fx.seam.clear();
    clickIndicator(fx, fx.find<QCheckBox>(QStringLiteral("cDAC1")));
    pick(fx, fx.find<QComboBox>(QStringLiteral("cbDEMP")), 2);
    fx.find<QSlider>(QStringLiteral("tkDAC4"))->setValue(0x10);
    clickIndicator(fx, fx.find<QCheckBox>(QStringLiteral("cbDIN2")));
    QVERIFY(fx.sim.log().isEmpty());
    QCOMPARE(form->shadow.bytes, shadow);
    QCOMPARE(mapRows(), map);
    QCOMPARE(historyOf(fx), history);
    QVERIFY(fx.seam.calls.isEmpty());

    // The board back: the next Reconnect brings everything to the defaults again.
    fx.sim.setPresent(true);
    clickPush(fx, "bBDRST");
    QCOMPARE(form->boardPort(), 1);
    QCOMPARE(statusText(fx), QStringLiteral("Ready"));
    QVERIFY(!form->ioSuppressed);
    QVERIFY(form->historyEnabled);
    QCOMPARE(controlsDifferingFromShadow(form), QStringList{});
    QVERIFY(!fx.find<QCheckBox>(QStringLiteral("cDAC3"))->isChecked());
}

QTEST_MAIN(TestInterface)
#include "tst_interface.moc"
