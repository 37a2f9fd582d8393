// SPDX-License-Identifier: GPL-3.0-or-later
#include "xscreen.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>
#include <QThread>
#include <QWidget>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cstdlib>

XScreen::XScreen()
{
    m_display = XOpenDisplay(nullptr);
}

XScreen::~XScreen()
{
    if (m_display)
        XCloseDisplay(m_display);
}

QRect XScreen::geometry() const
{
    const int s = DefaultScreen(m_display);
    return QRect(0, 0, DisplayWidth(m_display, s), DisplayHeight(m_display, s));
}

void XScreen::flush() const
{
    XSync(m_display, False);
}

QImage XScreen::grab(const QRect &rect) const
{
    const QRect r = rect.intersected(geometry());
    if (r.isEmpty())
        return {};
    XImage *xi = XGetImage(m_display, DefaultRootWindow(m_display), r.x(), r.y(), unsigned(r.width()),
                           unsigned(r.height()), AllPlanes, ZPixmap);
    if (!xi)
        return {};
    QImage image(r.size(), QImage::Format_RGB32);
    for (int y = 0; y < r.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < r.width(); ++x)
            line[x] = 0xFF000000u | (XGetPixel(xi, x, y) & 0xFFFFFFu); // depth 24, TrueColor
    }
    XDestroyImage(xi);
    return image;
}

double XScreen::matchOf(QWidget *widget) const
{
    if (!widget || !widget->isVisible())
        return 0.0;
    // A control paints over its parents' background: the window paints the whole rectangle.
    QWidget *window = widget->window();
    const QImage painted = window->grab(QRect(widget->mapTo(window, QPoint(0, 0)), widget->size()))
                               .toImage()
                               .convertToFormat(QImage::Format_RGB32);
    const QRect global(widget->mapToGlobal(QPoint(0, 0)), widget->size());
    const QRect onScreen = global.intersected(geometry());
    if (onScreen.isEmpty())
        return 0.0;
    const QImage shown = grab(onScreen);
    if (shown.isNull())
        return 0.0;
    const QPoint offset = onScreen.topLeft() - global.topLeft();
    qint64 same = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) {
            const QRgb a = shown.pixel(x, y);
            const QRgb b = painted.pixel(x + offset.x(), y + offset.y());
            const int d = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
            if (d <= 8)
                ++same;
        }
    // Parts off the screen count as not shown.
    return double(same) / double(global.width() * global.height());
}

bool XScreen::showsWithoutEvents(QWidget *widget, int timeoutMs, double threshold) const
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (matchOf(widget) >= threshold)
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
}

bool XScreen::shows(QWidget *widget, int timeoutMs, double threshold) const
{
    return QTest::qWaitFor([&] { return matchOf(widget) >= threshold; }, timeoutMs);
}

namespace {
unsigned keycodeOf(Display *d, const char *name)
{
    const KeySym sym = XStringToKeysym(name);
    return sym == NoSymbol ? 0 : XKeysymToKeycode(d, sym);
}
} // namespace

void XScreen::keyDown(const char *keysym)
{
    XTestFakeKeyEvent(m_display, keycodeOf(m_display, keysym), True, CurrentTime);
    flush();
}

void XScreen::keyUp(const char *keysym)
{
    XTestFakeKeyEvent(m_display, keycodeOf(m_display, keysym), False, CurrentTime);
    flush();
}

void XScreen::moveTo(const QPoint &global)
{
    XTestFakeMotionEvent(m_display, -1, global.x(), global.y(), CurrentTime);
    flush();
}

void XScreen::buttonDown(int button)
{
    XTestFakeButtonEvent(m_display, unsigned(button), True, CurrentTime);
    flush();
}

void XScreen::buttonUp(int button)
{
    XTestFakeButtonEvent(m_display, unsigned(button), False, CurrentTime);
    flush();
}

void XScreen::click(const QPoint &global)
{
    moveTo(global);
    buttonDown();
    buttonUp();
}

void XScreen::clickOn(QWidget *widget)
{
    click(widget->mapToGlobal(widget->rect().center()));
}

void XScreen::wheel(const QPoint &global, bool up)
{
    moveTo(global);
    buttonDown(up ? 4 : 5);
    buttonUp(up ? 4 : 5);
}

QString XScreen::windowManagerTitle(QWidget *window) const
{
    const Atom netWmName = XInternAtom(m_display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(m_display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    QString title;
    if (XGetWindowProperty(m_display, Window(window->winId()), netWmName, 0, 1024, False, utf8, &type, &format, &count,
                           &after, &data)
            == Success
        && data) {
        title = QString::fromUtf8(reinterpret_cast<const char *>(data), int(count));
    }
    if (data)
        XFree(data);
    return title;
}

bool XScreen::hasInputFocus(QWidget *window) const
{
    Window focus = None;
    int revert = 0;
    XGetInputFocus(m_display, &focus, &revert);
    return window && focus == Window(window->winId());
}
