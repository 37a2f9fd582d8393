// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Whether the window tells the truth: every bound control against a set of register values
// (the shadow's or the chip's), each mismatch named.
#include "dbtext.h"
#include "fieldmath.h"
#include "main.h"
#include "radiogroup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <QStringList>

#include <functional>

// withEdits: the dB edits too, which must then show the normalised text of their track bar
// (after a refresh; a typed text that leads to the same position stays until then).
inline QStringList controlMismatches(const TForm1 *f, const std::function<int(int)> &regValue, bool withEdits)
{
    QStringList out;
    for (const SliderBinding &row : f->sliderTable) {
        const int v = regValue(row.reg);
        if (row.track->value() != v)
            out << QStringLiteral("%1 at %2, register holds %3").arg(row.track->objectName()).arg(row.track->value()).arg(v);
        if (withEdits && row.edit->text() != QString::fromStdString(evm::dbText(row.track->value(), row.zeroDb)))
            out << QStringLiteral("%1 shows '%2' for %3").arg(row.edit->objectName(), row.edit->text()).arg(row.track->value());
    }
    for (const CheckBinding &row : f->checkTable) {
        const bool on = (regValue(row.reg) >> row.bit) & 1;
        if (row.box->isChecked() != on)
            out << QStringLiteral("%1 is %2, register bit is %3").arg(row.box->objectName()).arg(row.box->isChecked()).arg(on);
    }
    for (const ComboBinding &row : f->comboTable) {
        const int value = evm::fieldValue(uint8_t(regValue(row.reg)), row.shift, row.width);
        const int index = value < row.combo->count() ? value : -1;
        if (row.combo->currentIndex() != index)
            out << QStringLiteral("%1 shows item %2, field holds %3").arg(row.combo->objectName()).arg(row.combo->currentIndex()).arg(value);
    }
    for (const RadioBinding &row : f->radioTable) {
        const int index = (regValue(row.reg) >> row.bit) & 1;
        if (row.group->itemIndex() != index)
            out << QStringLiteral("%1 shows item %2, bit is %3").arg(row.group->objectName()).arg(row.group->itemIndex()).arg(index);
    }
    return out;
}

inline QStringList controlsAgainstShadow(const TForm1 *f, bool withEdits = false)
{
    return controlMismatches(f, [f](int reg) { return int(f->shadow.byte(reg)); }, withEdits);
}
