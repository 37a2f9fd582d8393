// SPDX-License-Identifier: GPL-3.0-or-later
// Register and pin access: the three primitives every board access goes
// through, the history log, the direct-access box, the shadow's loads.
#include "main.h"
#include "ui_main.h"

#include "inttext.h"
#include "pictures.h"
#include "regview.h"
#include "splash.h"
#include "uiseam.h"

#include <QProgressBar>

void TForm1::WriteBoardPin(int pin, uint8_t value)
{
    if (boardPort() == 0 || ioSuppressed)
        return;
    // Every failing line write is reported: they are few and each one matters.
    const int32_t code = boardSession.writeLine(pin, value);
    noteAccess("SPERR", code);
    if (code != 0)
        UiSeam::current().showMessage(withLibraryReason(QString::fromStdString(evm::communicationErrorText("SPERR", code))));
}

void TForm1::WriteRegister(uint32_t reg, int32_t value)
{
    if (boardPort() == 0)
        return;
    if (!ioSuppressed) {
        const int32_t code = boardSession.write(static_cast<int32_t>(reg), static_cast<uint8_t>(value));
        noteAccess("WRERR", code);
        if (code != 0 && !commErrorShown) {
            commErrorShown = true;
            UiSeam::current().showMessage(withLibraryReason(QString::fromStdString(evm::communicationErrorText("WRERR", code))));
        }
    }
    if (const auto row = shadow.store(reg, value); row && RegViewForm)
        RegViewForm->ShowRegisterRow(row->row, row->value);
    if (historyEnabled)
        appendHistory(QString::fromStdString(evm::registerLine(reg, static_cast<uint32_t>(value))));
}

uint8_t TForm1::ReadRegister(int32_t reg)
{
    uint8_t value = 0;
    readRegister(reg, value);
    return value;
}

bool TForm1::readRegister(int32_t reg, uint8_t &value)
{
    value = 0;
    if (boardPort() == 0)
        return false;
    const evm::BoardSession::Access read = boardSession.read(reg);
    noteAccess("RDERR", read.code);
    if (read.code != 0 && !commErrorShown) {
        commErrorShown = true;
        UiSeam::current().showMessage(withLibraryReason(QString::fromStdString(evm::communicationErrorText("RDERR", read.code))
                                                        + QStringLiteral("\nPlease check interface setting.")));
    }
    value = read.value;
    return read.code == 0;
}

void TForm1::appendHistory(const QString &line)
{
    ui->Memo1->appendPlainText(line);
}

void TForm1::ReadClick()
{
    const int32_t reg = evm::toInteger(ui->RDA_reg->text().toStdString());
    const uint8_t b = ReadRegister(reg);
    ui->RDA_data->setText(QString::fromStdString("0x" + evm::hexText(b, 2)));
}

void TForm1::WriteClick()
{
    // The data text is converted first, so with both texts wrong it is the one reported.
    const int32_t data = evm::toInteger(ui->RDA_data->text().toStdString());
    const int32_t reg = evm::toInteger(ui->RDA_reg->text().toStdString());
    // A register holds eight bits. Writing the low ones of a larger value would log a line
    // ("0x41, 0x1FF") that a script run of the saved history stops at, half way through.
    if (data < 0 || data > 0xFF) {
        UiSeam::current().errorReport(
            QStringLiteral("%1 is not a register value: the data must be 0x00 to 0xFF (0 to 255). Nothing was written.")
                .arg(ui->RDA_data->text().trimmed()));
        return;
    }
    WriteRegister(static_cast<uint32_t>(reg), data);
    RefreshControls();
}

void TForm1::ShowConnectionPicture(bool connected)
{
    ui->imgConnection->setPixmap(pictures::connectionPlate(connected ? 1 : 0));
    ui->imgConnection->repaint();
}

// The text stays until the program sets another: a temporary message would be wiped by the
// first status tip of a menu, and the status bar would stay empty.
void TForm1::setStatusText(const QString &text)
{
    statusLabel->setText(text);
}

// A failure since the last good access still shows: only an access that succeeds, a Read all
// or a Reconnect clears it.
void TForm1::showBoardFound()
{
    showConnectionState();
}

void TForm1::showNoBoard(const QString &boxText)
{
    SplashForm->hide();
    m_commFault.clear();
    setStatusText(QLatin1String(evm::NoBoardText));
    ui->imgConnection->setToolTip(QString());
    ShowConnectionPicture(false);
    // The library's reason, when it gives one (a server it could not reach), on a line of its own.
    const std::string why = boardSession.library().lastError();
    const QString text = why.empty() ? boxText : boxText + QLatin1Char('\n') + QString::fromStdString(why);
    UiSeam::current().messageBox(this, text, QStringLiteral("Error"), UiSeam::Icon::Error, UiSeam::Ok);
}

void TForm1::showReadBackBar()
{
    SplashForm->ProgressBar1->setRange(0, 30);
    SplashForm->ProgressBar1->setValue(0);
    SplashForm->repaintNow();
    SplashForm->ProgressBar1->setVisible(true);
}

void TForm1::ResetShadowToDefaults()
{
    shadow.resetToDefaults();
}

void TForm1::ResyncFromDevice()
{
    for (int d = 0; d < evm::RegisterCount; ++d) {
        // The bar repaints itself at once when its drawn length changes.
        SplashForm->ProgressBar1->setValue(d);
        shadow.storeReadBack(d, ReadRegister(evm::FirstRegister + d));
    }
    shadow.finishReadBack();
}
