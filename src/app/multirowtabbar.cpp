// SPDX-License-Identifier: GPL-3.0-or-later
#include "multirowtabbar.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QStyleOptionTab>
#include <QStylePainter>
#include <QTabWidget>
#include <QToolTip>

#include <algorithm>

namespace {

// QTabWidget::setTabBar is protected. Naming it through a derived class gives a
// member pointer that may be called on any tab widget, so the forms can keep a
// plain QTabWidget.
struct TabWidgetAccess : QTabWidget
{
    static void setBar(QTabWidget *tabs, QTabBar *bar)
    {
        (tabs->*&TabWidgetAccess::setTabBar)(bar);
    }
};

} // namespace

MultiRowTabBar::MultiRowTabBar(QWidget *parent)
    : QTabBar(parent)
{
    setUsesScrollButtons(false);
    setElideMode(Qt::ElideNone);
    setDrawBase(false);
    // Moving the current tab's row to the bottom moves the other rows too.
    connect(this, &QTabBar::currentChanged, this, [this] { update(); });
}

MultiRowTabBar *MultiRowTabBar::install(QTabWidget *tabs)
{
    if (auto *bar = qobject_cast<MultiRowTabBar *>(tabs->tabBar()))
        return bar;
    const QTabBar *old = tabs->tabBar();
    auto *bar = new MultiRowTabBar;
    bar->setObjectName(old->objectName());
    // The tabs are copied before the bar goes on, so the tab widget sees no
    // page change while it is swapped.
    for (int i = 0; i < old->count(); ++i) {
        bar->addTab(old->tabIcon(i), old->tabText(i));
        bar->setTabToolTip(i, old->tabToolTip(i));
        bar->setTabWhatsThis(i, old->tabWhatsThis(i));
        bar->setTabEnabled(i, old->isTabEnabled(i));
        bar->setTabVisible(i, old->isTabVisible(i));
    }
    bar->setCurrentIndex(old->currentIndex());
    const bool focused = old->hasFocus();
    TabWidgetAccess::setBar(tabs, bar);
    if (focused)
        bar->setFocus();
    return bar;
}

int MultiRowTabBar::arrangeWidth() const
{
    // Asked for its size before the tab widget places it, the bar answers for
    // the width it is about to get.
    if (auto *tabs = qobject_cast<const QTabWidget *>(parentWidget()))
        return tabs->width();
    return width();
}

MultiRowTabBar::Rows MultiRowTabBar::arrange(int width) const
{
    Rows rows;
    const int n = count();
    rows.rects.resize(n);
    rows.rowOf.fill(-1, n);

    QList<QList<int>> lines;
    QList<int> widths(n, 0);
    int used = 0;
    int tabHeight = 0;
    for (int i = 0; i < n; ++i) {
        if (!isTabVisible(i))
            continue;
        const QSize hint = tabSizeHint(i);
        widths[i] = hint.width();
        tabHeight = std::max(tabHeight, hint.height());
        if (lines.isEmpty() || used + hint.width() > width) {
            lines.append(QList<int>());
            used = 0;
        }
        lines.last().append(i);
        used += hint.width();
    }
    if (lines.isEmpty())
        return rows;

    const auto currentLine = std::find_if(lines.begin(), lines.end(), [this](const QList<int> &line) {
        return line.contains(currentIndex());
    });
    if (currentLine != lines.end())
        std::rotate(lines.begin(), currentLine + 1, lines.end());

    const bool wrapped = lines.size() > 1;
    for (int r = 0; r < lines.size(); ++r) {
        const QList<int> &line = lines[r];
        int natural = 0;
        for (int i : line)
            natural += widths[i];
        const int spare = wrapped ? std::max(0, width - natural) : 0;
        const int k = int(line.size());
        int x = 0;
        for (int j = 0; j < k; ++j) {
            const int i = line[j];
            const int w = widths[i] + spare * (j + 1) / k - spare * j / k;
            rows.rects[i] = QRect(x, r * tabHeight, w, tabHeight);
            rows.rowOf[i] = r;
            x += w;
        }
    }
    rows.count = int(lines.size());
    rows.height = rows.count * tabHeight;
    return rows;
}

int MultiRowTabBar::rowCount() const
{
    return arrange(width()).count;
}

QRect MultiRowTabBar::rowTabRect(int index) const
{
    if (index < 0 || index >= count())
        return {};
    return arrange(width()).rects.at(index);
}

int MultiRowTabBar::rowTabAt(const QPoint &pos) const
{
    const Rows rows = arrange(width());
    for (int i = 0; i < count(); ++i) {
        if (rows.rowOf[i] >= 0 && rows.rects[i].contains(pos))
            return i;
    }
    return -1;
}

QSize MultiRowTabBar::sizeHint() const
{
    const int w = arrangeWidth();
    return {w, arrange(w).height};
}

QSize MultiRowTabBar::minimumSizeHint() const
{
    return sizeHint();
}

bool MultiRowTabBar::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
    case QEvent::HoverLeave: {
        // The base class tracks hover by its own single-row geometry.
        const int hover = event->type() == QEvent::HoverLeave
                              ? -1
                              : rowTabAt(static_cast<QHoverEvent *>(event)->position().toPoint());
        if (hover != m_hover) {
            m_hover = hover;
            update();
        }
        return true;
    }
    case QEvent::ToolTip: {
        auto *help = static_cast<QHelpEvent *>(event);
        const int index = rowTabAt(help->pos());
        if (index >= 0 && !tabToolTip(index).isEmpty()) {
            QToolTip::showText(help->globalPos(), tabToolTip(index), this, rowTabRect(index));
            return true;
        }
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    default:
        return QTabBar::event(event);
    }
}

void MultiRowTabBar::paintEvent(QPaintEvent *)
{
    const Rows rows = arrange(width());
    QStylePainter painter(this);
    const int current = currentIndex();

    auto drawTab = [&](int i) {
        QStyleOptionTab opt;
        initStyleOption(&opt, i);
        opt.rect = rows.rects[i];
        opt.text = tabText(i);
        opt.state.setFlag(QStyle::State_MouseOver, i == m_hover && isTabEnabled(i));

        // Position within its own row, so the style draws the row's ends.
        int first = i, last = i;
        while (first > 0 && rows.rowOf[first - 1] == rows.rowOf[i])
            --first;
        while (last + 1 < count() && rows.rowOf[last + 1] == rows.rowOf[i])
            ++last;
        if (first == last)
            opt.position = QStyleOptionTab::OnlyOneTab;
        else if (i == first)
            opt.position = QStyleOptionTab::Beginning;
        else if (i == last)
            opt.position = QStyleOptionTab::End;
        else
            opt.position = QStyleOptionTab::Middle;
        opt.selectedPosition = QStyleOptionTab::NotAdjacent;
        if (current >= 0 && rows.rowOf[current] == rows.rowOf[i]) {
            if (current == i - 1)
                opt.selectedPosition = QStyleOptionTab::PreviousIsSelected;
            else if (current == i + 1)
                opt.selectedPosition = QStyleOptionTab::NextIsSelected;
        }
        painter.drawControl(QStyle::CE_TabBarTab, opt);
    };

    for (int i = 0; i < count(); ++i) {
        if (i != current && rows.rowOf[i] >= 0)
            drawTab(i);
    }
    // Last, so that it overlaps its neighbours and the pages' frame.
    if (current >= 0 && rows.rowOf[current] >= 0)
        drawTab(current);
}

void MultiRowTabBar::mousePressEvent(QMouseEvent *event)
{
    const int index = rowTabAt(event->position().toPoint());
    if (index < 0) {
        event->ignore();
        return;
    }
    event->accept();
    emit tabBarClicked(index);
    if (event->button() == Qt::LeftButton && isTabEnabled(index))
        setCurrentIndex(index);
}

void MultiRowTabBar::mouseDoubleClickEvent(QMouseEvent *event)
{
    const int index = rowTabAt(event->position().toPoint());
    if (index < 0) {
        event->ignore();
        return;
    }
    event->accept();
    emit tabBarDoubleClicked(index);
}
