// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QList>
#include <QRect>
#include <QTabBar>

class QTabWidget;

// A tab bar that wraps its tabs onto as many rows as its width needs, as
// multi-line tab controls do: no scroll arrows, every row of a wrapped bar is
// stretched to the full width, and the row that holds the current tab is
// always the bottom one, next to the pages. Only the top position (North) is
// laid out this way.
//
// QTabBar keeps its own single-row geometry internally, so tabRect() and
// tabAt() of the base class do not describe what is drawn; use rowTabRect()
// and rowTabAt().
class MultiRowTabBar : public QTabBar
{
    Q_OBJECT
public:
    explicit MultiRowTabBar(QWidget *parent = nullptr);

    // Puts a multi-row bar on a tab widget whose pages are already added,
    // keeping every tab's text, tooltip and enabled state and the current page.
    // The tab widget's own signals are not emitted. Installing twice returns the
    // bar already there.
    static MultiRowTabBar *install(QTabWidget *tabs);

    int rowCount() const;
    QRect rowTabRect(int index) const;
    int rowTabAt(const QPoint &pos) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    struct Rows
    {
        QList<QRect> rects; // by tab index
        QList<int> rowOf;   // by tab index, 0 = top row as drawn
        int count = 0;
        int height = 0;
    };
    Rows arrange(int width) const;
    int arrangeWidth() const;

    int m_hover = -1;
};
