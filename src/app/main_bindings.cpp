// SPDX-License-Identifier: GPL-3.0-or-later
// The four binding tables, the three shared handlers that turn a control change
// into one register write, and the refresh of every control from the shadow.
#include "main.h"
#include "ui_main.h"

#include "dbtext.h"
#include "fieldmath.h"
#include "fielditems.h"
#include "fieldtext.h"
#include "radiogroup.h"
#include "registers.h"
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

// The field a row names; null, and reported at start, when the chip has no such field.
const evm::RegisterField *fieldOf(const char *name)
{
    return evm::findField(name);
}

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

// The attenuation mode groups, and the slider rows of the two master attenuators they enable.
constexpr int kDacAttModeTag = rowOfField(kRadioRows, "ATMDDA");
constexpr int kAdcAttModeTag = rowOfField(kRadioRows, "ATMDAD");
constexpr int kDacMasterRow = rowOfField(kSliderRows, "ATDA0");
constexpr int kAdcMasterRow = rowOfField(kSliderRows, "ATAD0");
static_assert(kDacAttModeTag >= 0 && kAdcAttModeTag >= 0 && kDacMasterRow >= 0 && kAdcMasterRow >= 0);

} // namespace

void TForm1::buildBindingTables()
{
    // A row whose field is unknown binds no control: the start-up check names it, and the
    // handlers refuse the control rather than write a register it does not show.
    for (size_t i = 0; i < sliderTable.size(); ++i) {
        const SliderRow &r = kSliderRows[i];
        const evm::RegisterField *f = fieldOf(r.field);
        // A field that is no attenuator binds nothing either: it has no level to show.
        const std::optional<int> zeroDb = f ? evm::attenuatorZeroDb(*f) : std::nullopt;
        if (!zeroDb)
            f = nullptr;
        sliderTable[i] = {f ? f->reg : uint8_t(0), zeroDb.value_or(0), f ? findChild<QSlider *>(QLatin1String(r.track)) : nullptr,
                          f ? findChild<QLineEdit *>(QLatin1String(r.edit)) : nullptr};
    }
    for (size_t i = 0; i < checkTable.size(); ++i) {
        const CheckRow &r = kCheckRows[i];
        const evm::RegisterField *f = fieldOf(r.field);
        checkTable[i] = {f ? f->reg : uint8_t(0), f ? f->shift : 0, f ? findChild<QCheckBox *>(QLatin1String(r.box)) : nullptr};
    }
    for (size_t i = 0; i < comboTable.size(); ++i) {
        const ComboRow &r = kComboRows[i];
        const evm::RegisterField *f = fieldOf(r.field);
        comboTable[i] = {f ? f->reg : uint8_t(0), f ? f->shift : 0, f ? f->width : 0,
                         f ? findChild<QComboBox *>(QLatin1String(r.combo)) : nullptr, r.lines};
    }
    for (size_t i = 0; i < radioTable.size(); ++i) {
        const RadioRow &r = kRadioRows[i];
        const evm::RegisterField *f = fieldOf(r.field);
        auto *box = f ? findChild<QGroupBox *>(QLatin1String(r.group)) : nullptr;
        RadioGroup *group = box ? box->findChild<RadioGroup *>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
        radioTable[i] = {f ? f->reg : uint8_t(0), f ? f->shift : 0, group};
    }
}

QStringList TForm1::bindingProblems() const
{
    QStringList problems;
    auto check = [&](const QObject *control, const char *name, const char *field, int row) {
        if (!fieldOf(field))
            problems << QStringLiteral("%1 (row %2) names %3, which is no field of the chip")
                            .arg(QLatin1String(name)).arg(row).arg(QLatin1String(field));
        else if (!control)
            problems << QStringLiteral("%1 (row %2) is missing").arg(QLatin1String(name)).arg(row);
        else if (tagOf(control) != row)
            problems << QStringLiteral("%1 has Tag %2, its row is %3").arg(QLatin1String(name)).arg(tagOf(control)).arg(row);
    };
    for (size_t i = 0; i < sliderTable.size(); ++i) {
        if (const evm::RegisterField *f = fieldOf(kSliderRows[i].field); f && !evm::attenuatorZeroDb(*f)) {
            problems << QStringLiteral("%1 (row %2) names %3, which is no attenuator")
                            .arg(QLatin1String(kSliderRows[i].track)).arg(i).arg(QLatin1String(kSliderRows[i].field));
            continue;
        }
        check(sliderTable[i].track, kSliderRows[i].track, kSliderRows[i].field, int(i));
        check(sliderTable[i].edit, kSliderRows[i].edit, kSliderRows[i].field, int(i));
    }
    for (size_t i = 0; i < checkTable.size(); ++i)
        check(checkTable[i].box, kCheckRows[i].box, kCheckRows[i].field, int(i));
    for (size_t i = 0; i < comboTable.size(); ++i) {
        check(comboTable[i].combo, kComboRows[i].combo, kComboRows[i].field, int(i));
        if (comboTable[i].combo && comboTable[i].combo->count() > (1 << comboTable[i].width))
            problems << QStringLiteral("%1 has more items than its field holds").arg(QLatin1String(kComboRows[i].combo));
    }
    for (size_t i = 0; i < radioTable.size(); ++i) {
        check(radioTable[i].group ? radioTable[i].group->box() : nullptr, kRadioRows[i].group, kRadioRows[i].field, int(i));
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
    fillFieldItems(this);
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
    for (const int32_t line : row.lines)
        if (line != kNoLine)
            WriteBoardPin(line, index == 0 ? 1 : 0);
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
        row.edit->setText(QString::fromStdString(evm::dbText(b, row.zeroDb)));
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
        const QString text = QString::fromStdString(evm::dbText(b, row.zeroDb));
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
