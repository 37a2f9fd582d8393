// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>

// A picture that acts as a button: it reports press and release to the window
// (which gives it the pressed look) and a click when the release lands on it.
// It takes the keyboard focus like a push button: Tab reaches it, a focus frame
// shows it, and Space or Enter presses it (down on the key press, the click on
// the release of the same key).
class PressableImage : public QLabel
{
    Q_OBJECT
public:
    explicit PressableImage(QWidget *parent = nullptr)
        : QLabel(parent)
    {
        setFocusPolicy(Qt::StrongFocus);
    }

signals:
    void mouseDown(PressableImage *sender);
    void mouseUp(PressableImage *sender);
    void clicked(PressableImage *sender);

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        m_down = true;
        emit mouseDown(this);
        event->accept();
    }
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (!m_down)
            return;
        m_down = false;
        // The release position is taken before mouseUp moves the picture home.
        const bool inside = rect().contains(event->position().toPoint());
        emit mouseUp(this);
        if (inside)
            emit clicked(this);
        event->accept();
    }
    void keyPressEvent(QKeyEvent *event) override
    {
        if (!isActivationKey(event->key()))
            return QLabel::keyPressEvent(event);
        // A held key repeats its press: the button is already down.
        if (!event->isAutoRepeat() && m_key == 0) {
            m_key = event->key();
            emit mouseDown(this);
        }
        event->accept();
    }
    void keyReleaseEvent(QKeyEvent *event) override
    {
        if (event->isAutoRepeat() || event->key() != m_key || m_key == 0)
            return QLabel::keyReleaseEvent(event);
        m_key = 0;
        emit mouseUp(this);
        emit clicked(this);
        event->accept();
    }
    void focusOutEvent(QFocusEvent *event) override
    {
        // Focus gone with the key still down (a box opened, another window taken): the button
        // comes up without a click.
        if (m_key != 0) {
            m_key = 0;
            emit mouseUp(this);
        }
        QLabel::focusOutEvent(event);
    }
    void paintEvent(QPaintEvent *event) override
    {
        QLabel::paintEvent(event);
        if (!hasFocus())
            return;
        // A dotted frame inside the plate's raised edge, in the white of its lettering.
        QPainter painter(this);
        painter.setPen(QPen(Qt::white, 1, Qt::DotLine));
        painter.drawRect(QRect(QPoint(3, 3), QPoint(width() - 5, height() - 5)));
    }

private:
    static bool isActivationKey(int key) { return key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter; }

    bool m_down = false;
    int m_key = 0;
};
