// SPDX-License-Identifier: GPL-3.0-or-later
// The binding tables against the forms, the three shared handlers driven through
// the real widgets, and the refresh of every control from the shadow, all read
// back from the simulated board's call log.
#include "fixture.h"
#include "uitest.h"

#include "main.h"
#include "radiogroup.h"
#include "regview.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <optional>
#include <vector>

namespace {

// The hint every register-bound control carries: "Reg#41H, Bit6-4", "Reg#43H, Bit2".
QString hintFor(int reg, int shift, int width)
{
    const QString r = hex2(reg);
    if (width == 1)
        return QStringLiteral("Reg#%1H, Bit%2").arg(r).arg(shift);
    return QStringLiteral("Reg#%1H, Bit%2-%3").arg(r).arg(shift + width - 1).arg(shift);
}

// The register direct-access box: type register and value, release Enter in the data edit.
void directWrite(const AppFixture &fx, int reg, int value)
{
    fx.find<QLineEdit>(QStringLiteral("RDA_reg"))->setText(QStringLiteral("0x%1").arg(reg, 2, 16, QLatin1Char('0')));
    auto *data = fx.find<QLineEdit>(QStringLiteral("RDA_data"));
    data->setText(QStringLiteral("0x%1").arg(value, 2, 16, QLatin1Char('0')));
    QTest::keyClick(data, Qt::Key_Return);
}

QRadioButton *radio(const AppFixture &fx, const char *group, int item)
{
    return fx.find<QRadioButton>(QStringLiteral("%1_%2").arg(QLatin1String(group)).arg(item));
}

// A row of the design: the control and the chip field it shows. Register and bits come
// from the chip's field table, the one the window builds its bindings from.
struct Row {
    Row(const char *control, const char *fieldName) : name(control), field(fieldName)
    {
        if (const evm::RegisterField *f = evm::findField(fieldName)) {
            reg = f->reg;
            shift = f->shift;
            width = f->width;
        }
    }
    const char *name;
    const char *field;
    int reg = 0;
    int shift = 0; // bit for check boxes and radio groups
    int width = 0;
};

// The window's rows, row index = Tag; the forms' hints and items below are what they are checked against.
template <typename AppRow, size_t N>
std::vector<Row> rowsOf(const AppRow (&rows)[N], std::type_identity_t<const char *(*)(const AppRow &)> controlOf)
{
    std::vector<Row> out;
    for (const AppRow &r : rows)
        out.emplace_back(controlOf(r), r.field);
    return out;
}

const std::vector<Row> kChecks = rowsOf(kCheckRows, [](const auto &r) { return r.box; });

const std::vector<Row> kCombos = rowsOf(kComboRows, [](const auto &r) { return r.combo; });

const QStringList kComboItems[14] = {
    {"Slave", "Master (768fs)", "Master (512fs)", "Master (384fs)", "Master (256fs)", "Master (192fs)", "Master (128fs)"},
    {"24bit IIS", "24bit Left Justified", "24bit Right Justified", "16bit Right Justified", "24bit IIS DSP",
     "24bit Left Justified DSP", "24bit IIS TDM", "24bit Left Justified TDM", "24bit High speed IIS TDM",
     "24bit High speed Left Justified TDM"},
    {"Slave", "Master (768fs)", "Master (512fs)", "Master (384fs)", "Master (256fs)"},
    {"24bit IIS", "24bit Left Justified", "24bit Right Justified", "16bit Right Justified", "24bit IIS DSP",
     "24bit Left Justified DSP", "24bit IIS TDM", "24bit Left Justified TDM"},
    {"Auto", "Single Rate", "Dual Rate", "Quad Rate"},
    {"Auto", "Single Rate", "Dual Rate"},
    {"Detect DAC1-8 with AND logic", "Detect DAC1-8 with OR logic", "Detect DAC1-6 with AND logic",
     "Detect DAC1-6 with OR logic", "Detect DAC7-8 with AND logic", "Detect DAC7-8 with OR logic"},
    {"High for Zero detect", "Low for Zero detect"},
    {"High for overflow detect", "Low for overflow detect"},
    {"Disable", "48kHz", "44.1kHz", "32kHz"},
    {"Sharp Roll-off", "Slow Roll-off"}, {"Sharp Roll-off", "Slow Roll-off"},
    {"Sharp Roll-off", "Slow Roll-off"}, {"Sharp Roll-off", "Slow Roll-off"},
};

const std::vector<Row> kRadios = rowsOf(kRadioRows, [](const auto &r) { return r.group; });

const QStringList kRadioItems[5] = {
    {"Enable", "Disable"},
    {"Independent control", "Offset + Master"}, {"N*2048/fs", "N*4096/fs"},
    {"Independent control", "Offset + Master"}, {"N*2048/fs", "N*4096/fs"},
};

} // namespace

class TestBindings : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void tableRowMatchesForm_data();
    void tableRowMatchesForm();
    void wrongTagIsListed_data();
    void wrongTagIsListed();
    void wrongTagStopsTheHandler_data();
    void wrongTagStopsTheHandler();

    void checkBoxWritesItsBit_data();
    void checkBoxWritesItsBit();
    void comboPickWritesFieldThenLines_data();
    void comboPickWritesFieldThenLines();
    void comboPickByKeyboard();
    void dacSamplingModeNeverResets();
    void radioWritesBitAndEnablesMaster_data();
    void radioWritesBitAndEnablesMaster();
    void changeWithoutBoardLeavesShadow();

    void startupShowsDefaults_data();
    void startupShowsDefaults();
    void refreshAfterDefaultsRewritesWhatDiffered();
    void refreshWithNothingDifferentWritesNothing();
    void refreshAfterDirectWriteWritesAgain();
    void refreshTakesFocusFromHalfTypedEdit();
    void fieldWithoutItemLeavesNoSelection_data();
    void fieldWithoutItemLeavesNoSelection();

    void comboSetFromCodeRunsNoHandler();
    void checkBoxSetFromCodeRunsHandler();
    void radioSetFromCodeRunsHandler();
    void trackBarSetFromCodeRunsHandler();

private:
    std::optional<AppFixture> fx;
};

void TestBindings::init()
{
    fx.emplace();
    fx->create_and_show();
    QVERIFY(fx->form->boardPort() != 0);
    fx->sim.clearLog();
    fx->seam.clear();
}

void TestBindings::cleanup()
{
    fx->destroy();
    fx.reset();
}

void TestBindings::tableRowMatchesForm_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("tag");

    QCOMPARE(std::size(kSliderRows), size_t(16));
    QCOMPARE(kChecks.size(), size_t(44));
    QCOMPARE(kCombos.size(), size_t(14));
    QCOMPARE(kRadios.size(), size_t(5));
    for (int i = 0; i < 16; ++i)
        QTest::addRow("slider %d", i) << "slider" << i;
    for (int i = 0; i < 44; ++i)
        QTest::addRow("%s", kChecks[i].name) << "check" << i;
    for (int i = 0; i < 14; ++i)
        QTest::addRow("%s", kCombos[i].name) << "combo" << i;
    for (int i = 0; i < 5; ++i)
        QTest::addRow("%s", kRadios[i].name) << "radio" << i;
}

void TestBindings::tableRowMatchesForm()
{
    QFETCH(QString, kind);
    QFETCH(int, tag);
    TForm1 *f = fx->form;

    if (kind == QLatin1String("slider")) {
        const bool dac = tag < 9;
        const QString suffix = QStringLiteral("%1%2").arg(dac ? QStringLiteral("DAC") : QStringLiteral("ADC")).arg(dac ? tag : tag - 9);
        auto *track = fx->find<QSlider>(QStringLiteral("tk") + suffix);
        auto *edit = fx->find<QLineEdit>(QStringLiteral("ed") + suffix);
        QVERIFY(track && edit);
        const int reg = evm::findField(QStringLiteral("AT%1%2").arg(QLatin1String(dac ? "DA" : "AD")).arg(dac ? tag : tag - 9).toStdString())->reg;
        QCOMPARE(f->sliderTable[tag].track, track);
        QCOMPARE(f->sliderTable[tag].edit, edit);
        QCOMPARE(int(f->sliderTable[tag].reg), reg);
        QCOMPARE(f->sliderTable[tag].zeroDb, dac ? 255 : 215);
        QCOMPARE(tagOf(track), tag);
        QCOMPARE(tagOf(edit), tag);
        QCOMPARE(track->toolTip(), hintFor(reg, 0, 8));
        QCOMPARE(edit->toolTip(), hintFor(reg, 0, 8));
        QCOMPARE(track->minimum(), 0);
        QCOMPARE(track->maximum(), 255);
        QCOMPARE(track->orientation(), Qt::Horizontal);
    } else if (kind == QLatin1String("check")) {
        const Row &r = kChecks[tag];
        auto *box = fx->find<QCheckBox>(QLatin1String(r.name));
        QVERIFY(box);
        QCOMPARE(f->checkTable[tag].box, box);
        QCOMPARE(int(f->checkTable[tag].reg), r.reg);
        QCOMPARE(f->checkTable[tag].bit, r.shift);
        QCOMPARE(tagOf(box), tag);
        QCOMPARE(box->toolTip(), hintFor(r.reg, r.shift, 1));
    } else if (kind == QLatin1String("combo")) {
        const Row &r = kCombos[tag];
        auto *combo = fx->find<QComboBox>(QLatin1String(r.name));
        QVERIFY(combo);
        QCOMPARE(f->comboTable[tag].combo, combo);
        QCOMPARE(int(f->comboTable[tag].reg), r.reg);
        QCOMPARE(f->comboTable[tag].shift, r.shift);
        QCOMPARE(f->comboTable[tag].width, r.width);
        QCOMPARE(tagOf(combo), tag);
        QCOMPARE(combo->toolTip(), hintFor(r.reg, r.shift, r.width));
        QVERIFY(!combo->isEditable());
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        QCOMPARE(items, kComboItems[tag]);
        QVERIFY(combo->count() <= 1 << r.width);
    } else {
        const Row &r = kRadios[tag];
        auto *box = fx->find<QGroupBox>(QLatin1String(r.name));
        QVERIFY(box);
        QVERIFY(f->radioTable[tag].group);
        QCOMPARE(f->radioTable[tag].group->box(), box);
        QCOMPARE(int(f->radioTable[tag].reg), r.reg);
        QCOMPARE(f->radioTable[tag].bit, r.shift);
        QCOMPARE(tagOf(box), tag);
        QCOMPARE(box->toolTip(), hintFor(r.reg, r.shift, 1));
        QCOMPARE(f->radioTable[tag].group->count(), 2);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(f->radioTable[tag].group->button(i)->text(), kRadioItems[tag][i]);
    }
    QVERIFY2(f->bindingProblems().isEmpty(), qPrintable(f->bindingProblems().join(QLatin1Char('\n'))));
}

void TestBindings::wrongTagIsListed_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("wrongTag");
    QTest::addColumn<QString>("problem");

    QTest::newRow("check box") << "cInvDAC3" << 5 << "cInvDAC3 has Tag 5, its row is 2";
    QTest::newRow("check box Tag 0") << "cHPFADC56" << 0 << "cHPFADC56 has Tag 0, its row is 43";
    QTest::newRow("combo box") << "cbDEMP" << 6 << "cbDEMP has Tag 6, its row is 9";
    QTest::newRow("track bar") << "tkADC2" << 12 << "tkADC2 has Tag 12, its row is 11";
    QTest::newRow("dB edit") << "edDAC8" << 7 << "edDAC8 has Tag 7, its row is 8";
    QTest::newRow("radio group") << "rgADCAttMode" << 1 << "rgADCAttMode has Tag 1, its row is 3";
}

void TestBindings::wrongTagIsListed()
{
    QFETCH(QString, name);
    QFETCH(int, wrongTag);
    QFETCH(QString, problem);

    QObject *control = fx->find<QWidget>(name);
    QVERIFY(control);
    control->setProperty("Tag", wrongTag);
    fx->form->buildBindingTables();
    QCOMPARE(fx->form->bindingProblems(), QStringList{problem});

    // A control the form lacks altogether is named too.
    control->setObjectName(name + QStringLiteral("_renamed"));
    fx->form->buildBindingTables();
    QVERIFY2(fx->form->bindingProblems().join(QLatin1Char('\n')).contains(name + QStringLiteral(" (row ")),
             qPrintable(fx->form->bindingProblems().join(QLatin1Char('\n'))));
}

void TestBindings::wrongTagStopsTheHandler_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("wrongTag");

    QTest::newRow("check box, another row") << "cInvDAC3" << 5;
    QTest::newRow("check box, past the table") << "cADC6" << 99;
    QTest::newRow("check box, negative") << "cSEADC1" << -1;
    QTest::newRow("combo box, another row") << "cbDEMP" << 6;
    QTest::newRow("master/slave combo, the other one's row") << "cbDACMasterSlave" << 2;
    QTest::newRow("combo box, past the table") << "cbFLT78" << 14;
    QTest::newRow("radio group, another row") << "rgADCAttMode" << 1;
    QTest::newRow("radio group, past the table") << "rgDACAttSpeed" << 5;
    QTest::newRow("track bar, another row") << "tkDAC2" << 3;
    QTest::newRow("track bar, past the table") << "tkADC6" << 16;
    QTest::newRow("dB edit, another row") << "edADC1" << 9;
}

void TestBindings::wrongTagStopsTheHandler()
{
    // Even where the start-up check is compiled out, a control whose Tag leads to another row's
    // control writes nothing and says so.
    QFETCH(QString, name);
    QFETCH(int, wrongTag);
    QWidget *control = fx->find<QWidget>(name);
    QVERIFY(control);
    control->setProperty("Tag", wrongTag);
    const auto shadowBefore = fx->form->shadow.bytes;
    const QStringList editTexts = [&] {
        QStringList texts;
        for (const SliderBinding &row : fx->form->sliderTable)
            texts << row.edit->text();
        return texts;
    }();

    if (auto *box = qobject_cast<QCheckBox *>(control)) {
        clickIndicator(*fx, box);
    } else if (auto *combo = qobject_cast<QComboBox *>(control)) {
        pick(*fx, combo, 1);
    } else if (auto *track = qobject_cast<QSlider *>(control)) {
        track->setValue(17);
    } else if (auto *edit = qobject_cast<QLineEdit *>(control)) {
        showPageOf(*fx, edit);
        edit->setText(QStringLiteral("-3"));
        QTest::keyClick(edit, Qt::Key_Return);
    } else {
        clickIndicator(*fx, radio(*fx, name.toLatin1().constData(), 1));
    }

    QCOMPARE(fx->sim.log(), QStringList{});
    QCOMPARE(fx->form->shadow.bytes, shadowBefore);
    const auto errors = fx->seam.of(QStringLiteral("error"));
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.first().text.contains(name), qPrintable(errors.first().text));
    QVERIFY(!fx->find<QSlider>(QStringLiteral("tkDAC0"))->isEnabled());
    QVERIFY(fx->form->sliderEventsEnabled);
    // A track bar's edit is only rewritten for its own row.
    if (qobject_cast<QSlider *>(control))
        for (int i = 0; i < 16; ++i)
            QCOMPARE(fx->form->sliderTable[i].edit->text(), editTexts[i]);
}

void TestBindings::checkBoxWritesItsBit_data()
{
    QTest::addColumn<int>("tag");
    QTest::addColumn<int>("before");

    // The bit goes in and out; every other bit of the register is kept.
    for (int tag : {2, 0, 7, 13, 14, 20, 27, 33, 37, 40, 43})
        for (int before : {0x00, 0xFF & ~(1 << kChecks[tag].shift), 0x5A})
            QTest::addRow("%s from 0x%02X", kChecks[tag].name, before) << tag << before;
}

void TestBindings::checkBoxWritesItsBit()
{
    QFETCH(int, tag);
    QFETCH(int, before);
    const Row &r = kChecks[tag];
    const int bit = 1 << r.shift;
    directWrite(*fx, r.reg, before);
    auto *box = fx->find<QCheckBox>(QLatin1String(r.name));
    QCOMPARE(box->isChecked(), bool(before & bit));
    fx->sim.clearLog();
    const int historyBefore = int(historyOf(*fx).size());

    clickIndicator(*fx, box);
    const int ticked = before ^ bit;
    QCOMPARE(box->isChecked(), bool(ticked & bit));
    QCOMPARE(fx->sim.log(), QStringList{regLine(r.reg, ticked)});
    QCOMPARE(fx->sim.reg(r.reg), ticked);
    QCOMPARE(int(fx->form->shadow.byte(r.reg)), ticked);
    QCOMPARE(RegViewForm->shownValue(r.reg - 0x40), ticked);
    QCOMPARE(historyOf(*fx).mid(historyBefore), QStringList{historyLine(r.reg, ticked)});

    fx->sim.clearLog();
    clickIndicator(*fx, box);
    QCOMPARE(fx->sim.log(), QStringList{regLine(r.reg, before)});
    QCOMPARE(fx->sim.reg(r.reg), before);
}

void TestBindings::comboPickWritesFieldThenLines_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("item");
    QTest::addColumn<QStringList>("calls");

    QTest::newRow("DAC master 192fs") << "cbDACMasterSlave" << 0x41 << 0x83 << 5
                                      << QStringList{regLine(0x41, 0xD3), pinLine(55, 0)};
    QTest::newRow("DAC slave") << "cbDACMasterSlave" << 0x41 << 0xD3 << 0
                               << QStringList{regLine(0x41, 0x83), pinLine(55, 1)};
    QTest::newRow("ADC master 512fs") << "cbADCMasterSlave" << 0x51 << 0x00 << 2
                                      << QStringList{regLine(0x51, 0x20), pinLine(52, 0), pinLine(54, 0)};
    QTest::newRow("ADC slave keeps format") << "cbADCMasterSlave" << 0x51 << 0x47 << 0
                                            << QStringList{regLine(0x51, 0x07), pinLine(52, 1), pinLine(54, 1)};
    QTest::newRow("DAC format keeps master bits") << "cbDACFMT" << 0x41 << 0xD3 << 9 << QStringList{regLine(0x41, 0xD9)};
    QTest::newRow("ADC format") << "cbADCFMT" << 0x51 << 0x20 << 7 << QStringList{regLine(0x51, 0x27)};
    QTest::newRow("de-emphasis 32kHz") << "cbDEMP" << 0x46 << 0x81 << 3 << QStringList{regLine(0x46, 0xB1)};
    QTest::newRow("zero function 5") << "cbZeroFunc" << 0x46 << 0x00 << 5 << QStringList{regLine(0x46, 0x0A)};
    QTest::newRow("zero function 0 keeps the rest") << "cbZeroFunc" << 0x46 << 0xFF << 0 << QStringList{regLine(0x46, 0xF1)};
    QTest::newRow("zero polarity") << "cbZeroPole" << 0x46 << 0xFE << 1 << QStringList{regLine(0x46, 0xFF)};
    QTest::newRow("overflow polarity") << "cbOvfPole" << 0x57 << 0xC0 << 1 << QStringList{regLine(0x57, 0xC1)};
    QTest::newRow("ADC sampling dual") << "cbADCSAM" << 0x50 << 0x00 << 2 << QStringList{regLine(0x50, 0x02)};
    QTest::newRow("roll-off 5/6 slow") << "cbFLT56" << 0x42 << 0xF0 << 1 << QStringList{regLine(0x42, 0xF4)};
    QTest::newRow("roll-off 7/8 sharp") << "cbFLT78" << 0x42 << 0x0F << 0 << QStringList{regLine(0x42, 0x07)};
}

void TestBindings::comboPickWritesFieldThenLines()
{
    QFETCH(QString, combo);
    QFETCH(int, reg);
    QFETCH(int, before);
    QFETCH(int, item);
    QFETCH(QStringList, calls);

    directWrite(*fx, reg, before);
    QCOMPARE(int(fx->form->shadow.byte(reg)), before);
    fx->sim.clearLog();
    const int historyBefore = int(historyOf(*fx).size());

    pick(*fx, fx->find<QComboBox>(combo), item);
    QCOMPARE(fx->sim.log(), calls);
    const int after = calls.first().section(QStringLiteral("value=0x"), 1).left(2).toInt(nullptr, 16);
    QCOMPARE(int(fx->form->shadow.byte(reg)), after);
    QCOMPARE(historyOf(*fx).mid(historyBefore), QStringList{historyLine(reg, after)});
}

void TestBindings::comboPickByKeyboard()
{
    // A key press in a closed drop-down list is a user pick too.
    auto *combo = fx->find<QComboBox>(QStringLiteral("cbDEMP"));
    showPageOf(*fx, combo);
    QSignalSpy activated(combo, &QComboBox::activated);
    QTest::keyClick(combo, Qt::Key_Down);
    QCOMPARE(combo->currentIndex(), 1);
    QCOMPARE(activated.count(), 1);
    QCOMPARE(fx->sim.log(), QStringList{regLine(0x46, 0x10)});
}

void TestBindings::dacSamplingModeNeverResets()
{
    // Bits 7 and 6 of 0x40 come from the shadow, which keeps them set: a clear MRST would reset the chip.
    directWrite(*fx, 0x4A, 0x12);
    directWrite(*fx, 0x43, 0x81);
    auto *combo = fx->find<QComboBox>(QStringLiteral("cbDACSAM"));
    for (int item : {3, 1, 2, 0}) {
        fx->sim.clearLog();
        pick(*fx, combo, item);
        QCOMPARE(fx->sim.log(), QStringList{regLine(0x40, 0xC0 | item)});
        QCOMPARE(fx->sim.reg(0x4A), 0x12);
        QCOMPARE(fx->sim.reg(0x43), 0x81);
        QCOMPARE(fx->sim.reg(0x40), 0xC0 | item);
    }
}

void TestBindings::radioWritesBitAndEnablesMaster_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("bit");
    QTest::addColumn<QString>("master"); // the page's master row, or empty

    QTest::newRow("DAC attenuation mode") << "rgDACAttMode" << 0x46 << 7 << "DAC";
    QTest::newRow("ADC attenuation mode") << "rgADCAttMode" << 0x57 << 7 << "ADC";
    QTest::newRow("DAC attenuation speed") << "rgDACAttSpeed" << 0x46 << 6 << "";
    QTest::newRow("ADC attenuation speed") << "rgADCAttSpeed" << 0x57 << 6 << "";
    QTest::newRow("DAC power save") << "rgDACPowSav" << 0x41 << 7 << "";
}

void TestBindings::radioWritesBitAndEnablesMaster()
{
    QFETCH(QString, group);
    QFETCH(int, reg);
    QFETCH(int, bit);
    QFETCH(QString, master);

    const QByteArray name = group.toLatin1();
    QList<QWidget *> masterRow;
    if (!master.isEmpty())
        masterRow = {fx->find<QWidget>(QStringLiteral("tk%1").arg(master) + QLatin1Char('0')), fx->find<QWidget>(QStringLiteral("ed%1").arg(master) + QLatin1Char('0')),
                     fx->find<QWidget>(QStringLiteral("sb%1Mute").arg(master))};
    for (QWidget *w : masterRow) {
        QVERIFY(w);
        QVERIFY(!w->isEnabled());
    }
    // The other bits of the register are kept both ways.
    directWrite(*fx, reg, 0x15);
    fx->sim.clearLog();

    clickIndicator(*fx, radio(*fx, name.constData(), 1));
    QCOMPARE(fx->sim.log(), QStringList{regLine(reg, 0x15 | 1 << bit)});
    for (QWidget *w : masterRow)
        QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));

    fx->sim.clearLog();
    clickIndicator(*fx, radio(*fx, name.constData(), 0));
    QCOMPARE(fx->sim.log(), QStringList{regLine(reg, 0x15)});
    for (QWidget *w : masterRow)
        QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));

    // Clicking the item already chosen changes nothing.
    fx->sim.clearLog();
    clickIndicator(*fx, radio(*fx, name.constData(), 0));
    QCOMPARE(fx->sim.log(), QStringList{});
}

void TestBindings::changeWithoutBoardLeavesShadow()
{
    fx->destroy();
    fx.emplace();
    fx->sim.setPresent(false);
    fx->create_and_show();
    QCOMPARE(fx->form->boardPort(), 0);
    fx->seam.clear();
    const auto shadowBefore = fx->form->shadow.bytes;

    clickIndicator(*fx, fx->find<QCheckBox>(QStringLiteral("cInvDAC3")));
    pick(*fx, fx->find<QComboBox>(QStringLiteral("cbDEMP")), 3);
    clickIndicator(*fx, radio(*fx, "rgDACAttMode", 1));
    // The control shows the user's choice, the shadow stays, and the master row still follows the mode.
    QVERIFY(fx->find<QCheckBox>(QStringLiteral("cInvDAC3"))->isChecked());
    QCOMPARE(fx->form->shadow.bytes, shadowBefore);
    QVERIFY(fx->find<QSlider>(QStringLiteral("tkDAC0"))->isEnabled());
    QCOMPARE(historyOf(*fx), QStringList{});
    QCOMPARE(fx->sim.log(QStringLiteral("_writeData")), QStringList{});
    QCOMPARE(fx->seam.calls.size(), 0);
}

void TestBindings::startupShowsDefaults_data()
{
    QTest::addColumn<bool>("board");
    QTest::newRow("board read back") << true;
    QTest::newRow("no board, defaults") << false;
}

void TestBindings::startupShowsDefaults()
{
    QFETCH(bool, board);
    fx->destroy();
    fx.emplace();
    fx->sim.setPresent(board);
    fx->create_and_show();
    QCOMPARE(fx->form->boardPort() != 0, board);

    for (const Row &r : kChecks)
        QVERIFY2(!fx->find<QCheckBox>(QLatin1String(r.name))->isChecked(), r.name);
    for (const Row &r : kCombos)
        QCOMPARE(fx->find<QComboBox>(QLatin1String(r.name))->currentIndex(), 0);
    for (const Row &r : kRadios)
        QCOMPARE(fx->form->radioTable[tagOf(fx->find<QGroupBox>(QLatin1String(r.name)))].group->itemIndex(), 0);
    for (int i = 0; i < 16; ++i) {
        const SliderBinding &row = fx->form->sliderTable[i];
        QCOMPARE(row.track->value(), i < 9 ? 255 : 215);
        QCOMPARE(row.edit->text(), QStringLiteral("0.0"));
        const bool master = i == 0 || i == 9;
        QCOMPARE(row.track->isEnabled(), !master);
        QCOMPARE(row.edit->isEnabled(), !master);
    }
    QVERIFY(!fx->form->sbDACMute->isEnabled());
    QVERIFY(!fx->form->sbADCMute->isEnabled());
    for (int row = 0; row < 31; ++row)
        QCOMPARE(RegViewForm->shownValue(row), int(fx->form->shadow.bytes[row]));
    QCOMPARE(fx->find<QTabWidget>(QStringLiteral("MainTab"))->currentWidget()->objectName(), QStringLiteral("DACADCFunc"));
}

void TestBindings::refreshAfterDefaultsRewritesWhatDiffered()
{
    // Controls moved away from the shadow behind the handlers' back; the refresh brings them back,
    // and each one that changes state writes its register once more from the shadow.
    TForm1 *f = fx->form;
    {
        const QSignalBlocker b1(f->checkTable[2].box), b2(f->sliderTable[3].track), b3(f->comboTable[9].combo);
        const QSignalBlocker b4(f->radioTable[1].group), b5(f->sliderTable[10].track);
        f->checkTable[2].box->setChecked(true);
        f->sliderTable[3].track->setValue(12);
        f->sliderTable[3].edit->setText(QStringLiteral("-121.5"));
        f->sliderTable[10].track->setValue(216);
        f->comboTable[9].combo->setCurrentIndex(3);
        f->radioTable[1].group->setItemIndex(1);
    }
    f->ResetShadowToDefaults();
    f->RefreshControls();

    // Track bars, then check boxes, then radio groups; the combo box follows without a write.
    QCOMPARE(fx->sim.log(), (QStringList{regLine(0x4A, 0xFF), regLine(0x59, 0xD7), regLine(0x43, 0x00), regLine(0x46, 0x00)}));
    QCOMPARE(historyOf(*fx), (QStringList{historyLine(0x4A, 0xFF), historyLine(0x59, 0xD7), historyLine(0x43, 0x00),
                                          historyLine(0x46, 0x00)}));
    QVERIFY(!f->checkTable[2].box->isChecked());
    QCOMPARE(f->sliderTable[3].track->value(), 255);
    QCOMPARE(f->sliderTable[3].edit->text(), QStringLiteral("0.0"));
    QCOMPARE(f->sliderTable[10].edit->text(), QStringLiteral("0.0"));
    QCOMPARE(f->comboTable[9].combo->currentIndex(), 0);
    QCOMPARE(f->radioTable[1].group->itemIndex(), 0);
    QVERIFY(!f->sliderTable[0].track->isEnabled());
    QVERIFY(!f->sbDACMute->isEnabled());
}

void TestBindings::refreshWithNothingDifferentWritesNothing()
{
    directWrite(*fx, 0x46, 0xB5);
    directWrite(*fx, 0x4C, 0x80);
    fx->sim.clearLog();
    const QStringList history = historyOf(*fx);

    fx->form->RefreshControls();
    QCOMPARE(fx->sim.log(), QStringList{});
    QCOMPARE(historyOf(*fx), history);
    // The refresh still shows the register map from the shadow.
    QCOMPARE(RegViewForm->shownValue(0x46 - 0x40), 0xB5);
}

void TestBindings::refreshAfterDirectWriteWritesAgain()
{
    directWrite(*fx, 0x43, 0x01);
    QCOMPARE(fx->sim.log(), (QStringList{regLine(0x43, 0x01), regLine(0x43, 0x01)}));
    QCOMPARE(historyOf(*fx), (QStringList{historyLine(0x43, 0x01), historyLine(0x43, 0x01)}));
    QVERIFY(fx->find<QCheckBox>(QStringLiteral("cInvDAC1"))->isChecked());

    // With the history off the second write still reaches the board, but nothing is logged.
    fx->sim.clearLog();
    fx->form->historyEnabled = false;
    directWrite(*fx, 0x43, 0x03);
    QCOMPARE(fx->sim.log(), (QStringList{regLine(0x43, 0x03), regLine(0x43, 0x03)}));
    QCOMPARE(historyOf(*fx).size(), 2);

    // An attenuator behaves the same through its track bar's handler, and shows the new dB text.
    fx->sim.clearLog();
    fx->form->historyEnabled = true;
    directWrite(*fx, 0x5B, 0x10);
    QCOMPARE(fx->sim.log(), (QStringList{regLine(0x5B, 0x10), regLine(0x5B, 0x10)}));
    QCOMPARE(fx->find<QLineEdit>(QStringLiteral("edADC3"))->text(), QStringLiteral("-99.5"));
}

void TestBindings::refreshTakesFocusFromHalfTypedEdit()
{
    fx->form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(fx->form));
    auto *edit = fx->find<QLineEdit>(QStringLiteral("edDAC2"));
    showPageOf(*fx, edit);
    edit->setFocus();
    QVERIFY(edit->hasFocus());
    QTest::keyClicks(edit, QStringLiteral("-3"));

    fx->form->RefreshControls();
    QVERIFY(!edit->hasFocus());
    QVERIFY(fx->find<QWidget>(QStringLiteral("MainTab"))->hasFocus()); // by its tab bar, the page control's focus proxy
    QCOMPARE(edit->text(), QStringLiteral("0.0"));
    QCOMPARE(fx->sim.log(), QStringList{});
}

void TestBindings::fieldWithoutItemLeavesNoSelection_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("value");

    QTest::newRow("DAC master/slave 7") << "cbDACMasterSlave" << 0x41 << 0x70;
    for (int v = 10; v <= 15; ++v)
        QTest::addRow("DAC format %d", v) << "cbDACFMT" << 0x41 << v;
    for (int v = 5; v <= 7; ++v)
        QTest::addRow("ADC master/slave %d", v) << "cbADCMasterSlave" << 0x51 << (v << 4);
    QTest::newRow("ADC sampling 3") << "cbADCSAM" << 0x50 << 0x03;
    QTest::newRow("zero function 6") << "cbZeroFunc" << 0x46 << 0x0C;
    QTest::newRow("zero function 7") << "cbZeroFunc" << 0x46 << 0x0E;
}

void TestBindings::fieldWithoutItemLeavesNoSelection()
{
    QFETCH(QString, combo);
    QFETCH(int, reg);
    QFETCH(int, value);
    auto *box = fx->find<QComboBox>(combo);
    // Start from another item, so the refresh has something to undo.
    pick(*fx, box, 1);
    fx->sim.clearLog();

    directWrite(*fx, reg, value);
    QCOMPARE(box->currentIndex(), -1);
    QCOMPARE(box->currentText(), QString());
    // A refresh never drives the master/slave lines.
    QCOMPARE(fx->sim.log(QStringLiteral("_writeData(channel=7")), QStringList{});

    // The user can pick an item again.
    fx->sim.clearLog();
    pick(*fx, box, 0);
    QCOMPARE(fx->sim.log(QStringLiteral("_writeData(channel=0")).size(), 1);
}

void TestBindings::comboSetFromCodeRunsNoHandler()
{
    auto *combo = fx->find<QComboBox>(QStringLiteral("cbDACMasterSlave"));
    QSignalSpy activated(combo, &QComboBox::activated);
    QSignalSpy changed(combo, &QComboBox::currentIndexChanged);
    combo->setCurrentIndex(3);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(activated.count(), 0);
    QCOMPARE(fx->sim.log(), QStringList{});
    QCOMPARE(int(fx->form->shadow.byte(0x41)), 0x00);
}

void TestBindings::checkBoxSetFromCodeRunsHandler()
{
    auto *box = fx->find<QCheckBox>(QStringLiteral("cSEADC4"));
    QSignalSpy toggled(box, &QCheckBox::toggled);
    box->setChecked(true);
    QCOMPARE(toggled.count(), 1);
    QCOMPARE(fx->sim.log(), QStringList{regLine(0x53, 0x08)});
    box->setChecked(true);
    QCOMPARE(toggled.count(), 1);
    QCOMPARE(fx->sim.log().size(), 1);
}

void TestBindings::radioSetFromCodeRunsHandler()
{
    RadioGroup *group = fx->form->radioTable[4].group;
    QSignalSpy clicked(group, &RadioGroup::clicked);
    group->setItemIndex(1);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(fx->sim.log(), QStringList{regLine(0x57, 0x40)});
    group->setItemIndex(1);
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(fx->sim.log().size(), 1);
}

void TestBindings::trackBarSetFromCodeRunsHandler()
{
    auto *track = fx->find<QSlider>(QStringLiteral("tkDAC5"));
    QSignalSpy changed(track, &QSlider::valueChanged);
    track->setValue(100);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(fx->sim.log(), QStringList{regLine(0x4C, 100)});
    QCOMPARE(fx->find<QLineEdit>(QStringLiteral("edDAC5"))->text(), QStringLiteral("-77.5"));
    track->setValue(100);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(fx->sim.log().size(), 1);
}

QTEST_MAIN(TestBindings)
#include "tst_bindings.moc"
