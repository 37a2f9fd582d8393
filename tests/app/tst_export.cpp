// SPDX-License-Identifier: GPL-3.0-or-later
// File > Export against the simulated board: the register script the tool exports runs in the
// window and brings the chip to the setup byte for byte; the window exports its shadow in each
// format through the file dialog of the seam, as the tool exports the chip.
#include "fixture.h"

#include "fielddiff.h"
#include "main.h"
#include "registers.h"
#include "setupexport.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QSlider>
#include <QTest>

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void trigger(AppFixture &fx, const QString &action)
{
    QAction *a = fx.form->findChild<QAction *>(action);
    QVERIFY2(a, qPrintable(action));
    a->trigger();
}

// A setup that touches every kind of register: 0x40 beside its triggers, combo fields and
// bits, attenuators of both kinds (ADC1 above unity gain raises its overflow flag).
evm::RegisterValues benchSetup()
{
    evm::RegisterValues v{};
    for (int i = 0; i < evm::RegisterCount; ++i)
        v[size_t(i)] = evm::powerOnValue(evm::FirstRegister + i);
    for (const auto &[reg, value] : {std::pair{0x40, 0xC2}, {0x41, 0x53}, {0x42, 0x15}, {0x44, 0x81}, {0x46, 0xBA},
                                     {0x48, 0x80}, {0x4F, 0x00}, {0x51, 0x21}, {0x53, 0x2A}, {0x57, 0xC1},
                                     {0x58, 0xC0}, {0x59, 0xE0}})
        v[size_t(reg - evm::FirstRegister)] = uint8_t(value);
    return v;
}

evm::SetupExport shadowSetup(AppFixture &fx, bool changedOnly)
{
    evm::SetupExport setup;
    std::copy_n(fx.form->shadow.bytes.begin(), evm::RegisterCount, setup.values.begin());
    setup.changedOnly = changedOnly;
    setup.iicAddress = 0x44 + fx.find<QComboBox>(QStringLiteral("cbAddr"))->currentIndex();
    setup.origin = "the window's register shadow";
    setup.program = "EVM Controller";
    return setup;
}

} // namespace

class TestExport : public QObject
{
    Q_OBJECT
private slots:
    void scriptRunsBackInTheWindow();
    void eachFormatFromTheShadow_data();
    void eachFormatFromTheShadow();
    void overwriteAskedAndShadowTakenAfter();
    void cancelWritesNothing();
};

// The tool's script export of a set-up chip, opened in the window, sets a chip at its power-on
// values to that setup byte for byte, never writing a status flag register or a reset.
void TestExport::scriptRunsBackInTheWindow()
{
    AppFixture fx;
    fx.create_and_show();
    fx.sim.clearLog();
    const evm::RegisterValues setup = benchSetup();
    evm::SetupExport exported;
    exported.values = setup;
    const QString path = fx.file(QStringLiteral("setup.csv"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray::fromStdString(evm::setupText(evm::SetupFormat::Script, exported)));
    }
    fx.seam.fileNames << path;
    trigger(fx, QStringLiteral("Open1"));
    QCOMPARE(fx.seam.count(QStringLiteral("box")), 0);

    const QStringList writes = fx.sim.log(QStringLiteral("_writeData(channel=0"));
    for (const QString &w : writes) {
        QVERIFY2(!w.contains("reg=0x45") && !w.contains("reg=0x56"), qPrintable(w));
        QVERIFY2(!w.contains("reg=0x40") || w.contains("value=0xC"), qPrintable(w));
    }
    for (int reg = evm::FirstRegister; reg <= evm::LastRegister; ++reg)
        if (!evm::isStatusFlagRegister(reg))
            QCOMPARE(QString::number(fx.sim.reg(reg), 16), QString::number(setup[size_t(reg - evm::FirstRegister)], 16));
    QCOMPARE(fx.sim.reg(0x56) & 0x3F, 0x01); // the chip raised ADC1's overflow flag itself
    QCOMPARE(fx.find<QSlider>(QStringLiteral("tkDAC1"))->value(), 0x80);

    // Exported again from the window, the shadow gives the very same script.
    const QString again = fx.file(QStringLiteral("again.csv"));
    fx.seam.fileNames << again;
    trigger(fx, QStringLiteral("ExportScript"));
    QCOMPARE(fileBytes(again), fileBytes(path));
    fx.destroy();
}

void TestExport::eachFormatFromTheShadow_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<bool>("changedOnly");
    for (const evm::SetupFormatInfo &f : evm::setupFormats()) {
        QString name = QString::fromLatin1(f.name);
        name[0] = name[0].toUpper();
        for (bool changed : {false, true})
            QTest::addRow("%s%s", f.name, changed ? " changed" : "")
                << "Export" + name << int(f.format) << QString::fromLatin1(f.suffix) << changed;
    }
}

void TestExport::eachFormatFromTheShadow()
{
    QFETCH(QString, action);
    QFETCH(int, format);
    QFETCH(QString, suffix);
    QFETCH(bool, changedOnly);

    AppFixture fx;
    fx.create_and_show();
    fx.form->WriteRegister(0x46, 0x30);
    fx.form->WriteRegister(0x59, 0x80);
    fx.form->RefreshControls();
    fx.seam.clear();
    fx.sim.clearLog();

    // The item sits in File > Export, after the snapshot.
    auto *menu = fx.form->findChild<QMenu *>(QStringLiteral("Export1"));
    QVERIFY(menu);
    auto *file = fx.form->findChild<QMenu *>(QStringLiteral("File1"));
    const QList<QAction *> items = file->actions();
    QCOMPARE(items.indexOf(menu->menuAction()), items.indexOf(fx.form->findChild<QAction *>(QStringLiteral("SaveRegisterDump"))) + 1);
    fx.form->findChild<QAction *>(QStringLiteral("ExportChanged"))->setChecked(changedOnly);

    const QString path = fx.file("setup." + suffix);
    fx.seam.fileNames << path;
    trigger(fx, action);
    const QList<RecordingSeam::Call> dialogs = fx.seam.of(QStringLiteral("save"));
    QCOMPARE(dialogs.size(), 1);
    QCOMPARE(dialogs[0].title, QStringLiteral("Export setup"));
    QCOMPARE(dialogs[0].caption, suffix);
    QCOMPARE(dialogs[0].text, suffix.toUpper() + "|*." + suffix + "|All files|*.*");

    const QByteArray bytes = fileBytes(path);
    QCOMPARE(bytes, QByteArray::fromStdString(evm::setupText(evm::SetupFormat(format), shadowSetup(fx, changedOnly))));
    // From the shadow: the chip is not read, and nothing is written.
    QCOMPARE(fx.sim.log(), QStringList());
    if (format == int(evm::SetupFormat::Script))
        QCOMPARE(bytes.count('\n'), changedOnly ? 2 : 29);
    fx.destroy();
}

// The overwrite question is a box that lets events run: a write made meanwhile is in the file.
void TestExport::overwriteAskedAndShadowTakenAfter()
{
    AppFixture fx;
    fx.create_and_show();
    const QString path = fx.file(QStringLiteral("old.json"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("old");
    }
    fx.seam.fileNames << path << path;
    trigger(fx, QStringLiteral("ExportJson"));
    QCOMPARE(fx.seam.of(QStringLiteral("box")).value(0).caption, QStringLiteral("File exits"));
    QCOMPARE(fileBytes(path), QByteArray("old")); // no answer is No

    fx.seam.clear();
    fx.seam.answers << UiSeam::Yes;
    fx.seam.onBox = [&fx](const RecordingSeam::Call &) { fx.form->WriteRegister(0x48, 0x10); };
    trigger(fx, QStringLiteral("ExportJson"));
    QCOMPARE(fx.seam.count(QStringLiteral("box")), 1);
    QVERIFY2(fileBytes(path).contains("\"register\": 72, \"hex\": \"0x48\", \"value\": 16,"), fileBytes(path).constData());
    fx.destroy();
}

void TestExport::cancelWritesNothing()
{
    AppFixture fx;
    fx.create_and_show();
    fx.sim.clearLog();
    trigger(fx, QStringLiteral("ExportC"));
    QCOMPARE(fx.seam.count(QStringLiteral("save")), 1);
    QCOMPARE(fx.seam.count(QStringLiteral("box")), 0);
    QCOMPARE(QDir(fx.workDir()).entryList(QDir::Files), QStringList());
    QCOMPARE(fx.sim.log(), QStringList());
    fx.destroy();
}

QTEST_MAIN(TestExport)
#include "tst_export.moc"
