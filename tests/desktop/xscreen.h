// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The X server as a user meets it: real key, button and wheel events through XTest, and the
// pixels the server shows, read back with XGetImage. A connection of its own, beside Qt's.
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>

class QWidget;

class XScreen
{
public:
    XScreen();
    ~XScreen();
    XScreen(const XScreen &) = delete;
    XScreen &operator=(const XScreen &) = delete;

    bool isOpen() const { return m_display != nullptr; }
    QRect geometry() const;

    // What the server shows in `rect` (global coordinates), clipped to the screen.
    QImage grab(const QRect &rect) const;
    // The share of `widget`'s pixels on the screen that match what it paints itself (grab()):
    // 1.0 when the server shows the window as drawn, low when it shows something else.
    double matchOf(QWidget *widget) const;
    // Polls the screen, without running Qt's event loop, until matchOf() reaches `threshold`
    // or `timeoutMs` passes. For checks made while the program's thread is busy.
    bool showsWithoutEvents(QWidget *widget, int timeoutMs, double threshold = kMatch) const;
    // The same, processing Qt's events meanwhile (the program is idle and may paint).
    bool shows(QWidget *widget, int timeoutMs, double threshold = kMatch) const;

    // Real input. Keys by X keysym name ("Return", "Tab", "z", "F1", "Control_L").
    void keyDown(const char *keysym);
    void keyUp(const char *keysym);
    void key(const char *keysym)
    {
        keyDown(keysym);
        keyUp(keysym);
    }
    void moveTo(const QPoint &global);
    void buttonDown(int button = 1);
    void buttonUp(int button = 1);
    void click(const QPoint &global);
    void clickOn(QWidget *widget);
    // One notch of the wheel: up true turns it away from the user.
    void wheel(const QPoint &global, bool up);

    // Whether the server sends the keyboard to this top-level widget now. Qt may call a window
    // active a moment before the window manager has given it the X input focus.
    bool hasInputFocus(QWidget *window) const;

    // The title that the window manager shows for a top-level widget (_NET_WM_NAME).
    QString windowManagerTitle(QWidget *window) const;

    static constexpr double kMatch = 0.98;

private:
    void flush() const;
    struct _XDisplay *m_display = nullptr;
};
