// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

// The busy window and the script progress window are shown by handlers that then block the
// thread. A plain show() and repaint() only ask the X server to map the window; it is exposed
// later, when nobody processes events any more, and the screen keeps the old pixels. These wait
// until the window is on the screen and its pixels have reached the server.
//
// While they wait they let only the window system's own events in (map, expose, configure, and
// the paints these post): user input stays queued for after the work, and timers do not fire.
namespace paintnow {

// Paints a visible window at once and returns when the server has the pixels; waits (a few
// seconds at most) for the window manager to map it first.
void paint(QWidget *window);

} // namespace paintnow
