// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QWidget;

// Gives every bound combo box and radio group under root the items of its field, as the core
// names them (fieldtext.h), so that the window and the tool speak of one list. Run once, after
// the forms are set up and before the radio groups are made.
void fillFieldItems(QWidget *root);
