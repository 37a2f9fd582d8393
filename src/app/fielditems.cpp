// SPDX-License-Identifier: GPL-3.0-or-later
#include "fielditems.h"

#include "bindingrows.h"
#include "fieldtext.h"
#include "registers.h"

#include <QComboBox>
#include <QGroupBox>
#include <QRadioButton>
#include <QStringList>

namespace {
QStringList itemsOf(const char *field)
{
    QStringList items;
    if (const evm::RegisterField *f = evm::findField(field))
        for (const char *item : evm::fieldItems(*f))
            items << QString::fromUtf8(item);
    return items;
}
} // namespace

void fillFieldItems(QWidget *root)
{
    // The first item shows until the controls are refreshed from the shadow.
    for (const ComboRow &r : kComboRows)
        if (auto *combo = root->findChild<QComboBox *>(QLatin1String(r.combo)))
            combo->addItems(itemsOf(r.field));
    for (const RadioRow &r : kRadioRows)
        if (auto *box = root->findChild<QGroupBox *>(QLatin1String(r.group))) {
            const QStringList items = itemsOf(r.field);
            for (int i = 0; i < items.size(); ++i)
                if (auto *button = box->findChild<QRadioButton *>(QStringLiteral("%1_%2").arg(box->objectName()).arg(i),
                                                                  Qt::FindDirectChildrenOnly))
                    button->setText(items[i]);
        }
}
