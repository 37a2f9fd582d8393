// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QObject>
#include <QVector>

class QButtonGroup;
class QGroupBox;
class QRadioButton;

// A two-or-more item radio group in the designer's sense: the group box of the
// form plus its radio buttons <name>_0, <name>_1, ... in item order. clicked()
// fires for the newly checked button, whether the user or code checked it.
class RadioGroup : public QObject
{
    Q_OBJECT
public:
    explicit RadioGroup(QGroupBox *box);

    QGroupBox *box() const { return m_box; }
    int count() const { return int(m_buttons.size()); }
    int itemIndex() const;
    // -1 leaves no item checked.
    void setItemIndex(int index);
    QRadioButton *button(int index) const { return m_buttons.value(index); }

signals:
    void clicked(RadioGroup *group);

private:
    void updateTabStop();

    QGroupBox *m_box;
    QButtonGroup *m_group;
    QVector<QRadioButton *> m_buttons;
};

// The designer's integer Tag of a control (0 when it has none).
int tagOf(const QObject *object);
