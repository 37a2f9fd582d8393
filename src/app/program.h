// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The program's windows in start-up order: the splash first, shown and painted before any
// other window exists; then the main window (its creation reads the settings and builds the
// binding tables), the About box, the script progress window and the register map. All of
// them exist before the main window is first shown.
void createProgramWindows();
// Destroys them; the main window's close handling runs if it has not yet.
void destroyProgramWindows();
