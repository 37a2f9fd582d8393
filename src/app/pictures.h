// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QPixmap>
#include <QSize>
#include <QString>

// Every picture of the windows, drawn by the program itself.
namespace pictures {

// Picture-button plate: a raised grey face lettered in white.
QPixmap buttonPlate(const QString &caption, QSize size);
// Title lettering in green: "CDX5170" followed by "EVM Controller".
QPixmap titleLettering();
// The program's own neutral logo.
QPixmap logo();
// ImageList2, 72 x 19: 0 a light red pill lettered "No EVM", 1 a light green pill lettered "Connected",
// 2 an amber pill lettered "Error": connected, but the last access failed.
QPixmap connectionPlate(int index);
// ImageList1, 16 x 16 on a transparent background: 0 grey lamp, 1 red lamp, 2 green lamp.
QPixmap lamp(int index);

} // namespace pictures
