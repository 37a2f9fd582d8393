// The four binding tables, the three shared handlers that turn a control change
// into one register write, and the refresh of every control from the shadow.
#include "main.h"
#include "ui_main.h"

#include "dbtext.h"
#include "fieldmath.h"
#include "radiogroup.h"
#include "regview.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QSlider>
#include <QSignalBlocker>
#include <QToolButton>

#include <stdexcept>

namespace {

struct SliderRow {
    const char *track;
    const char *edit;
    uint8_t reg;
    int32_t zeroDb;
};
constexpr SliderRow kSliderRows[16] = {
    {"tkDAC0", "edDAC0", 0x47, 255}, {"tkDAC1", "edDAC1", 0x48, 255}, {"tkDAC2", "edDAC2", 0x49, 255},
    {"tkDAC3", "edDAC3", 0x4A, 255}, {"tkDAC4", "edDAC4", 0x4B, 255}, {"tkDAC5", "edDAC5", 0x4C, 255},
    {"tkDAC6", "edDAC6", 0x4D, 255}, {"tkDAC7", "edDAC7", 0x4E, 255}, {"tkDAC8", "edDAC8", 0x4F, 255},
    {"tkADC0", "edADC0", 0x58, 215}, {"tkADC1", "edADC1", 0x59, 215}, {"tkADC2", "edADC2", 0x5A, 215},
    {"tkADC3", "edADC3", 0x5B, 215}, {"tkADC4", "edADC4", 0x5C, 215}, {"tkADC5", "edADC5", 0x5D, 215},
    {"tkADC6", "edADC6", 0x5E, 215},
};

struct CheckRow {
    const char *box;
    uint8_t reg;
    int32_t bit;
};
constexpr CheckRow kCheckRows[44] = {
    {"cInvDAC1", 0x43, 0}, {"cInvDAC2", 0x43, 1}, {"cInvDAC3", 0x43, 2}, {"cInvDAC4", 0x43, 3},
    {"cInvDAC5", 0x43, 4}, {"cInvDAC6", 0x43, 5}, {"cInvDAC7", 0x43, 6}, {"cInvDAC8", 0x43, 7},
    {"cInvADC1", 0x54, 0}, {"cInvADC2", 0x54, 1}, {"cInvADC3", 0x54, 2}, {"cInvADC4", 0x54, 3},
    {"cInvADC5", 0x54, 4}, {"cInvADC6", 0x54, 5},
    {"cSEADC1", 0x53, 0}, {"cSEADC2", 0x53, 1}, {"cSEADC3", 0x53, 2}, {"cSEADC4", 0x53, 3},
    {"cSEADC5", 0x53, 4}, {"cSEADC6", 0x53, 5},
    {"cDAC1", 0x44, 0}, {"cDAC2", 0x44, 1}, {"cDAC3", 0x44, 2}, {"cDAC4", 0x44, 3},
    {"cDAC5", 0x44, 4}, {"cDAC6", 0x44, 5}, {"cDAC7", 0x44, 6}, {"cDAC8", 0x44, 7},
    {"cADC1", 0x55, 0}, {"cADC2", 0x55, 1}, {"cADC3", 0x55, 2}, {"cADC4", 0x55, 3},
    {"cADC5", 0x55, 4}, {"cADC6", 0x55, 5},
    {"cOPEDA0", 0x42, 4}, {"cOPEDA1", 0x42, 5}, {"cOPEDA2", 0x42, 6}, {"cOPEDA3", 0x42, 7},
    {"cPowADC12", 0x52, 4}, {"cPowADC34", 0x52, 5}, {"cPowADC56", 0x52, 6},
    {"cHPFADC12", 0x52, 0}, {"cHPFADC34", 0x52, 1}, {"cHPFADC56", 0x52, 2},
};

struct ComboRow {
    const char *combo;
    uint8_t reg;
    int32_t shift;
    int32_t width;
};
constexpr ComboRow kComboRows[14] = {
    {"cbDACMasterSlave", 0x41, 4, 3}, {"cbDACFMT", 0x41, 0, 4}, {"cbADCMasterSlave", 0x51, 4, 3},
    {"cbADCFMT", 0x51, 0, 3},         {"cbDACSAM", 0x40, 0, 2}, {"cbADCSAM", 0x50, 0, 2},
    {"cbZeroFunc", 0x46, 1, 3},       {"cbZeroPole", 0x46, 0, 1}, {"cbOvfPole", 0x57, 0, 1},
    {"cbDEMP", 0x46, 4, 2},           {"cbFLT12", 0x42, 0, 1},  {"cbFLT34", 0x42, 1, 1},
    {"cbFLT56", 0x42, 2, 1},          {"cbFLT78", 0x42, 3, 1},
};

struct RadioRow {
    const char *group;
    uint8_t reg;
    int32_t bit;
};
constexpr RadioRow kRadioRows[5] = {
    {"rgDACPowSav", 0x41, 7}, {"rgDACAttMode", 0x46, 7}, {"rgDACAttSpeed", 0x46, 6},
    {"rgADCAttMode", 0x57, 7}, {"rgADCAttSpeed", 0x57, 6},
};

// The row a control's Tag selects, refused unless it leads back to that very control: a wrong
// Tag in a form must stop the handler with a report, never write another row's bits, even when
// the start-up check's message went unread.
template <typename Binding, size_t N>
const Binding &boundRow(const std::array<Binding, N> &table, int tag, const QObject *control, auto controlOf)
{
    if (tag < 0 || tag >= int(N) || controlOf(table[size_t(tag)]) != control)
        throw std::logic_error(QStringLiteral("%1 has Tag %2, which is not its row in the binding tables")
                                   .arg(control->objectName()).arg(tag).toStdString());
    return table[size_t(tag)];
}

constexpr int kDacMasterSlaveTag = 0;
constexpr int kAdcMasterSlaveTag = 2;
constexpr int kDacAttModeTag = 1;
constexpr int kAdcAttModeTag = 3;
constexpr int kDacMasterRow = 0; // slider rows of the two master attenuators
constexpr int kAdcMasterRow = 9;

} // namespace

void TForm1::buildBindingTables()
{
    for (int i = 0; i < 16; ++i) {
        const SliderRow &r = kSliderRows[i];
        sliderTable[i] = {r.reg, r.zeroDb, findChild<QSlider *>(QLatin1String(r.track)),
                          findChild<QLineEdit *>(QLatin1String(r.edit))};
    }
    for (int i = 0; i < 44; ++i) {
        const CheckRow &r = kCheckRows[i];
        checkTable[i] = {r.reg, r.bit, findChild<QCheckBox *>(QLatin1String(r.box))};
    }
    for (int i = 0; i < 14; ++i) {
        const ComboRow &r = kComboRows[i];
        comboTable[i] = {r.reg, r.shift, r.width, findChild<QComboBox *>(QLatin1String(r.combo))};
    }
    for (int i = 0; i < 5; ++i) {
        const RadioRow &r = kRadioRows[i];
        auto *box = findChild<QGroupBox *>(QLatin1String(r.group));
        RadioGroup *group = box ? box->findChild<RadioGroup *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
        radioTable[i] = {r.reg, r.bit, group};
    }
}

QStringList TForm1::bindingProblems() const
{
    QStringList problems;
    auto check = [&](const QObject *control, const char *name, int row) {
        if (!control)
            problems << QStringLiteral("%1 (row %2) is missing").arg(QLatin1String(name)).arg(row);
        else if (tagOf(control) != row)
            problems << QStringLiteral("%1 has Tag %2, its row is %3").arg(QLatin1String(name)).arg(tagOf(control)).arg(row);
    };
    for (int i = 0; i < 16; ++i) {
        check(sliderTable[i].track, kSliderRows[i].track, i);
        check(sliderTable[i].edit, kSliderRows[i].edit, i);
    }
    for (int i = 0; i < 44; ++i)
        check(checkTable[i].box, kCheckRows[i].box, i);
    for (int i = 0; i < 14; ++i) {
        check(comboTable[i].combo, kComboRows[i].combo, i);
        if (comboTable[i].combo && comboTable[i].combo->count() > (1 << comboTable[i].width))
            problems << QStringLiteral("%1 has more items than its field holds").arg(QLatin1String(kComboRows[i].combo));
    }
    for (int i = 0; i < 5; ++i) {
        check(radioTable[i].group ? radioTable[i].group->box() : nullptr, kRadioRows[i].group, i);
        if (radioTable[i].group && radioTable[i].group->count() != 2)
            problems << QStringLiteral("%1 does not have two items").arg(QLatin1String(kRadioRows[i].group));
    }
    return problems;
}

void TForm1::connectBindings()
{
    // The tables are not built yet (FormCreate does that); connect by name from the same rows.
    for (const SliderRow &r : kSliderRows) {
        auto *track = findChild<QSlider *>(QLatin1String(r.track));
        auto *edit = findChild<QLineEdit *>(QLatin1String(r.edit));
        if (track)
            connect(track, &QSlider::valueChanged, this, [this, track] { guard([this, track] { TrackChange(track); }); });
        if (edit)
            edit->installEventFilter(this);
    }
    for (const CheckRow &r : kCheckRows)
        if (auto *box = findChild<QCheckBox *>(QLatin1String(r.box)))
            connect(box, &QCheckBox::toggled, this, [this, box] { guard([this, box] { CheckBoxChecked(box); }); });
    for (const ComboRow &r : kComboRows)
        if (auto *combo = findChild<QComboBox *>(QLatin1String(r.combo)))
            connect(combo, &QComboBox::activated, this, [this, combo] { guard([this, combo] { ComboBoxChange(combo); }); });
    for (const RadioRow &r : kRadioRows)
        if (auto *box = findChild<QGroupBox *>(QLatin1String(r.group))) {
            auto *group = new RadioGroup(box);
            connect(group, &RadioGroup::clicked, this, [this, group] { guard([this, group] { RadioGroupClick(group); }); });
        }

    sbDACMute = findChild<QToolButton *>(QStringLiteral("sbDACMute"));
    sbADCMute = findChild<QToolButton *>(QStringLiteral("sbADCMute"));
    for (auto *mute : {sbDACMute, sbADCMute})
        if (mute)
            connect(mute, &QToolButton::clicked, this, [this, mute] { guard([this, mute] { sbMasterMuteClick(mute); }); });
    for (int i = 1; i <= 4; ++i)
        if (auto *din = findChild<QCheckBox *>(QStringLiteral("cbDIN%1").arg(i)))
            connect(din, &QCheckBox::toggled, this, [this, din] { guard([this, din] { DinMuxClick(din); }); });
    connect(selDout, &RadioGroup::clicked, this, [this] { guard([this] { selDoutClick(); }); });
    for (auto [name, handler] : {std::pair{"btnZeroRead", &TForm1::btnZeroReadClick}, std::pair{"btnZeroClr", &TForm1::btnZeroClrClick},
                                 std::pair{"btnOVFRead", &TForm1::btnOVFReadClick}, std::pair{"btnOVFClr", &TForm1::btnOVFClrClick}})
        if (auto *button = findChild<QPushButton *>(QLatin1String(name)))
            connect(button, &QPushButton::clicked, this, [this, handler = handler] { guard([this, handler] { (this->*handler)(); }); });
}

void TForm1::CheckBoxChecked(QCheckBox *sender)
{
    const CheckBinding &row = boundRow(checkTable, tagOf(sender), sender, [](const CheckBinding &b) { return b.box; });
    const uint8_t value = evm::setBit(shadow.byte(row.reg), row.bit, sender->isChecked());
    WriteRegister(row.reg, value);
}

void TForm1::ComboBoxChange(QComboBox *sender)
{
    const int tag = tagOf(sender);
    const ComboBinding &row = boundRow(comboTable, tag, sender, [](const ComboBinding &b) { return b.combo; });
    const int index = sender->currentIndex();
    const uint8_t value = evm::mergeField(shadow.byte(row.reg), row.shift, row.width, index);
    WriteRegister(row.reg, value);
    // The register is always written before the board lines.
    if (tag == kDacMasterSlaveTag)
        WriteBoardPin(55, index == 0 ? 1 : 0);
    if (tag == kAdcMasterSlaveTag) {
        WriteBoardPin(52, index == 0 ? 1 : 0);
        WriteBoardPin(54, index == 0 ? 1 : 0);
    }
}

void TForm1::RadioGroupClick(RadioGroup *sender)
{
    const int tag = tagOf(sender->box());
    const RadioBinding &row = boundRow(radioTable, tag, sender, [](const RadioBinding &b) { return b.group; });
    const int index = sender->itemIndex();
    const uint8_t value = evm::setBit(shadow.byte(row.reg), row.bit, index == 1);
    WriteRegister(row.reg, value);
    if (tag == kDacAttModeTag || tag == kAdcAttModeTag)
        enableMasterRow(tag == kDacAttModeTag, index == 1);
}

// The master attenuator and its Mute button are usable only in "Offset + Master" mode.
void TForm1::enableMasterRow(bool dac, bool enabled)
{
    const SliderBinding &master = sliderTable[dac ? kDacMasterRow : kAdcMasterRow];
    master.track->setEnabled(enabled);
    master.edit->setEnabled(enabled);
    (dac ? sbDACMute : sbADCMute)->setEnabled(enabled);
}

void TForm1::showShadow()
{
    for (const SliderBinding &row : sliderTable) {
        const uint8_t b = shadow.byte(row.reg);
        if (row.track->value() == b)
            continue; // a typed dB text that leads to this position stays
        const QSignalBlocker quiet(row.track);
        row.track->setValue(b);
        row.edit->setText(evm::dbText(b, row.zeroDb));
    }
    for (const CheckBinding &row : checkTable) {
        const bool on = (shadow.byte(row.reg) >> row.bit) & 1;
        if (row.box->isChecked() != on) {
            const QSignalBlocker quiet(row.box);
            row.box->setChecked(on);
        }
    }
    for (const ComboBinding &row : comboTable) {
        const int value = evm::fieldValue(shadow.byte(row.reg), row.shift, row.width);
        const int index = value < row.combo->count() ? value : -1;
        if (row.combo->currentIndex() != index) {
            const QSignalBlocker quiet(row.combo);
            row.combo->setCurrentIndex(index);
        }
    }
    for (const RadioBinding &row : radioTable) {
        const int index = (shadow.byte(row.reg) >> row.bit) & 1;
        if (row.group->itemIndex() != index) {
            const QSignalBlocker quiet(row.group);
            row.group->setItemIndex(index);
        }
    }
    enableMasterRow(true, radioTable[kDacAttModeTag].group->itemIndex() == 1);
    enableMasterRow(false, radioTable[kAdcAttModeTag].group->itemIndex() == 1);
}

void TForm1::RefreshControls()
{
    ui->MainTab->setFocus();

    // Setting a track bar, check box or radio group runs its handler when its state changes,
    // which writes the register once more; setting a combo box runs none.
    for (const SliderBinding &row : sliderTable) {
        const uint8_t b = shadow.byte(row.reg);
        row.track->setValue(b);
        const QString text = evm::dbText(b, row.zeroDb);
        if (row.edit->text() != text)
            row.edit->setText(text);
    }
    for (const CheckBinding &row : checkTable)
        row.box->setChecked((shadow.byte(row.reg) >> row.bit) & 1);
    for (const ComboBinding &row : comboTable) {
        const int value = evm::fieldValue(shadow.byte(row.reg), row.shift, row.width);
        // A value with no item leaves the box with no selection.
        row.combo->setCurrentIndex(value < row.combo->count() ? value : -1);
    }
    for (const RadioBinding &row : radioTable)
        row.group->setItemIndex((shadow.byte(row.reg) >> row.bit) & 1);

    enableMasterRow(true, radioTable[kDacAttModeTag].group->itemIndex() == 1);
    enableMasterRow(false, radioTable[kAdcAttModeTag].group->itemIndex() == 1);

    for (int row = 0; row < evm::RegisterCount; ++row)
        RegViewForm->ShowRegisterRow(row, shadow.bytes[row]);
}
