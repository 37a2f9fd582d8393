// SPDX-License-Identifier: GPL-3.0-or-later
/* Linked the way a board library must not be: no -init, so DT_INIT names this _init; no
   _close; and one export too many. */
int _init(void)
{
    return 1;
}

int stray_export(void)
{
    return 0;
}
