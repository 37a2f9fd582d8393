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
    if (const int32_t code = boardSession.writeLine(pin, value); code != 0)
        UiSeam::current().showMessage(QString::fromStdString(evm::communicationErrorText("SPERR", code)));
}

void TForm1::WriteRegister(uint32_t reg, int32_t value)
{
    if (boardPort() == 0)
        return;
    if (!ioSuppressed) {
        const int32_t code = boardSession.write(static_cast<int32_t>(reg), static_cast<uint8_t>(value));
        if (code != 0 && !commErrorShown) {
            commErrorShown = true;
            UiSeam::current().showMessage(QString::fromStdString(evm::communicationErrorText("WRERR", code)));
        }
    }
    if (const auto row = shadow.store(reg, value); row && RegViewForm)
        RegViewForm->ShowRegisterRow(row->row, row->value);
    if (historyEnabled)
        appendHistory(QString::fromStdString(evm::registerLine(reg, static_cast<uint32_t>(value))));
}

uint8_t TForm1::ReadRegister(int32_t reg)
{
    if (boardPort() == 0)
        return 0;
    const evm::BoardSession::Access read = boardSession.read(reg);
    if (read.code != 0 && !commErrorShown) {
        commErrorShown = true;
        UiSeam::current().showMessage(QString::fromStdString(evm::communicationErrorText("RDERR", read.code))
                                      + QStringLiteral("\nPlease check interface setting."));
    }
    return read.value;
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

void TForm1::showBoardFound()
{
    setStatusText(QStringLiteral("Ready"));
    ShowConnectionPicture(true);
}

void TForm1::showNoBoard(const QString &boxText)
{
    SplashForm->hide();
    setStatusText(QLatin1String(evm::NoBoardText));
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
