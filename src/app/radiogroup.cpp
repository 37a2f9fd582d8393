// SPDX-License-Identifier: GPL-3.0-or-later
#include "radiogroup.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QRadioButton>

RadioGroup::RadioGroup(QGroupBox *box)
    : QObject(box), m_box(box), m_group(new QButtonGroup(this))
{
    setObjectName(box->objectName());
    for (int i = 0;; ++i) {
        auto *b = box->findChild<QRadioButton *>(QStringLiteral("%1_%2").arg(box->objectName()).arg(i));
        if (!b)
            break;
        m_buttons << b;
        m_group->addButton(b, i);
    }
    connect(m_group, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        updateTabStop();
        if (checked)
            emit clicked(this);
    });
    updateTabStop();
}

// Tab stops at the checked item only (at the first while none is checked); the arrow keys move
// within the group. Tab onto an unchecked item would let one Space switch it.
void RadioGroup::updateTabStop()
{
    QAbstractButton *stop = m_group->checkedButton();
    if (!stop && !m_buttons.isEmpty())
        stop = m_buttons.first();
    for (QRadioButton *b : std::as_const(m_buttons))
        b->setFocusPolicy(b == stop ? Qt::StrongFocus : Qt::ClickFocus);
}

int RadioGroup::itemIndex() const
{
    return m_group->checkedId();
}

void RadioGroup::setItemIndex(int index)
{
    if (index == itemIndex())
        return;
    if (index < 0 || index >= count()) {
        m_group->setExclusive(false);
        if (auto *b = m_group->checkedButton())
            b->setChecked(false);
        m_group->setExclusive(true);
        return;
    }
    m_buttons[index]->setChecked(true);
}

int tagOf(const QObject *object)
{
    return object ? object->property("Tag").toInt() : 0;
}
