// SPDX-License-Identifier: GPL-3.0-or-later
#include "paintnow.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QThread>
#include <QWidget>
#include <QWindow>

#ifdef EVM_HAVE_XCB
#include <xcb/xcb.h>
#endif

#include <cstdlib>

namespace paintnow {

namespace {

// Window-system events only: input stays queued (a close from the title bar counts as input),
// and no timer runs a handler in the middle of someone else's work.
constexpr QEventLoop::ProcessEventsFlags kWindowSystemOnly
    = QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers | QEventLoop::X11ExcludeTimers;

// How long a window manager may take to map a window on a busy machine.
constexpr int kMapTimeoutMs = 5000;

// One round trip: when it returns, the server has carried out every request sent before it,
// the window's pixels included.
void syncWithServer()
{
#ifdef EVM_HAVE_XCB
    if (auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr)
        if (xcb_connection_t *c = x11->connection())
            std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
#endif
}

} // namespace

void paint(QWidget *window)
{
    if (!window || !window->isVisible())
        return;
    QWindow *handle = window->windowHandle();
    if (handle && !handle->isExposed()) {
        const QDeadlineTimer deadline(kMapTimeoutMs);
        for (;;) {
            QCoreApplication::processEvents(kWindowSystemOnly);
            if (handle->isExposed() || deadline.hasExpired() || !window->isVisible())
                break;
            QThread::msleep(2);
        }
    }
    window->repaint();
    syncWithServer();
}

} // namespace paintnow
