// SPDX-License-Identifier: GPL-3.0-or-later
// The reset buttons, the status flag lamps and the signal routing lines.
#include "main.h"
#include "ui_main.h"

#include "boardlines.h"
#include "pictures.h"
#include "radiogroup.h"
#include "splash.h"
#include "uiseam.h"

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>

namespace {
constexpr int kLampOff = 0;
constexpr int kLampOverflow = 1;
constexpr int kLampZero = 2;
} // namespace

void TForm1::setLamp(QLabel *lamp, int picture)
{
    lamp->setPixmap(pictures::lamp(picture));
    lamp->repaint();
}

void TForm1::btnMRSTClick()
{
    SplashForm->show();
    SplashForm->setText(QStringLiteral("Reset in progress ..."));
    SplashForm->ProgressBar1->setValue(0);
    SplashForm->ProgressBar1->setVisible(false);
    SplashForm->repaintNow();

    WriteRegister(0x40, shadow.byte(0x40) & 0x7F);
    commErrorShown = false;
    UiSeam::current().sleepMs(1000);
    historyEnabled = false;
    showPowerOnValues();
}

// After a reset to the power-on values: the shadow and the controls show them, the
// flags are cleared, all without a register write or a history line.
void TForm1::showPowerOnValues()
{
    ioSuppressed = true;
    ResetShadowToDefaults();
    RefreshControls();
    btnZeroClrClick();
    btnOVFClrClick();
    SplashForm->hide();
    ioSuppressed = false;
    historyEnabled = true;
}

void TForm1::btnSRSTClick()
{
    WriteRegister(0x40, shadow.byte(0x40) & 0xBF);
}

void TForm1::btnRESETClick()
{
    commErrorShown = false;
    SplashForm->show();
    SplashForm->setText(QStringLiteral("Reset in progress ..."));
    SplashForm->repaintNow();

    WriteBoardPin(evm::BoardLine::HardwareReset, 0);
    UiSeam::current().sleepMs(10);
    WriteBoardPin(evm::BoardLine::HardwareReset, 1);
    ioSuppressed = true;
    historyEnabled = false;

    if (boardPort() == 0) {
        showNoBoard(QStringLiteral("No EVM was foud"));
        ResetShadowToDefaults();
        RefreshControls();
        return;
    }
    showBoardFound();
    showReadBackBar();
    ResyncFromDevice();
    SplashForm->hide();
    RefreshControls();
    btnZeroClrClick();
    btnOVFClrClick();
    ioSuppressed = false;
    historyEnabled = true;
}

void TForm1::btnZeroReadClick()
{
    const uint8_t v = ReadRegister(evm::ZeroFlagRegister);
    for (int i = 0; i < 8; ++i)
        setLamp(zeroIndicators[i], (v >> i) & 1 ? kLampZero : kLampOff);
}

void TForm1::btnZeroClrClick()
{
    for (QLabel *lamp : zeroIndicators)
        setLamp(lamp, kLampOff);
}

void TForm1::btnOVFReadClick()
{
    // Bits 7 and 6 of 0x56 are not flags and are not shown.
    const uint8_t v = ReadRegister(evm::OverflowFlagRegister);
    for (int i = 0; i < 6; ++i)
        setLamp(overflowIndicators[i], (v >> i) & 1 ? kLampOverflow : kLampOff);
}

void TForm1::btnOVFClrClick()
{
    for (QLabel *lamp : overflowIndicators)
        setLamp(lamp, kLampOff);
}

void TForm1::DinMuxClick(QCheckBox *sender)
{
    WriteBoardPin(evm::BoardLine::dinSelect(tagOf(sender)), sender->isChecked() ? 1 : 0);
}

void TForm1::selDoutClick()
{
    const int k = 3 - selDout->itemIndex();
    WriteBoardPin(evm::BoardLine::DoutSelectBit0, k & 1);
    WriteBoardPin(evm::BoardLine::DoutSelectBit1, (k & 2) ? 1 : 0);
}
