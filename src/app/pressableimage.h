#pragma once
#include <QLabel>
#include <QMouseEvent>

// A picture that acts as a button: it reports press and release to the window
// (which gives it the pressed look) and a click when the release lands on it.
class PressableImage : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

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

private:
    bool m_down = false;
};
