// SPDX-License-Identifier: GPL-3.0-or-later
// Interface choice (IIC or SPI, the IIC address), the settings file that keeps
// it between runs, and Reconnect.
#include "main.h"
#include "ui_main.h"

#include "inttext.h"
#include "radiogroup.h"
#include "settingsfile.h"
#include "splash.h"
#include "uiseam.h"

#include <QApplication>
#include <QProgressBar>

#include <stdexcept>

namespace {
constexpr int kIic = evm::IicItem;
constexpr std::string_view kTypeKey = evm::kSettingsTypeKey;
constexpr std::string_view kAddrKey = evm::kSettingsAddrKey;

std::string addressText(int32_t address)
{
    return "0x" + evm::hexText(static_cast<uint32_t>(address), 2);
}

// A key that cannot be written ends the handler with the settings file's error.
void writeKey(const std::unique_ptr<evm::SettingsFile> &settings, std::string_view key, const std::string &value)
{
    if (!settings)
        return;
    if (const auto error = settings->write(key, value))
        throw std::runtime_error("Cannot write " + std::string(key) + " to " + settings->fileName() + ": " + *error);
}
} // namespace

void TForm1::readSettings()
{
    rgInterface->setItemIndex(evm::SpiItem);
    chosenAddress = evm::DefaultChosenAddress;
    settingsFile = evm::openSettingsFile();
    const evm::InterfaceChoice choice = evm::readInterfaceChoice(settingsFile.get());
    // What was read before a failure stays.
    rgInterface->setItemIndex(choice.itemIndex);
    chosenAddress = choice.chosenAddress;
    ui->cbAddr->setCurrentIndex(choice.addressItem);
    if (!choice.ok)
        UiSeam::current().showMessage(QStringLiteral("Initial file was corrupted!!"));

    ui->cbAddr->setEnabled(rgInterface->itemIndex() == kIic);
    ApplyInterfaceChoice(rgInterface->itemIndex());
    m_autoReadMs = evm::readAutoReadInterval(settingsFile.get());
}

void TForm1::ApplyInterfaceChoice(int itemIndex)
{
    boardSession.settings() = evm::connectionSettingsFor(itemIndex, chosenAddress);
    ui->imgRead->setEnabled(true);
}

void TForm1::rgInterfaceClick()
{
    if (!boardSession.isLoaded())
        return;
    const int index = rgInterface->itemIndex();
    // For IIC this still uses the address chosen before the switch.
    ApplyInterfaceChoice(index);
    writeKey(settingsFile, kTypeKey, std::to_string(index));
    boardSession.reconnectKeepingPort();
    chosenAddress = evm::addressAfterSwitchTo(index);
    ui->cbAddr->setEnabled(index == kIic);
    ui->cbAddr->setCurrentIndex(0);
    writeKey(settingsFile, kAddrKey, addressText(chosenAddress));
}

void TForm1::cbAddrChange()
{
    if (rgInterface->itemIndex() != kIic)
        return;
    chosenAddress = ui->cbAddr->currentIndex() + evm::FirstIicAddress;
    writeKey(settingsFile, kAddrKey, addressText(chosenAddress));
}

void TForm1::bBDRSTClick()
{
    if (!boardSession.isLoaded())
        return;
    historyEnabled = false;
    SplashForm->show();
    SplashForm->setText(QStringLiteral("Reset in progress ..."));
    SplashForm->ProgressBar1->setVisible(false);
    SplashForm->repaintNow();
    QApplication::processEvents();

    ioSuppressed = true;
    commErrorShown = false;
    boardSession.disconnect();
    m_commFault.clear(); // a new connection: what failed on the old one is history
    UiSeam::current().sleepMs(1000);
    SplashForm->repaintNow();
    ApplyInterfaceChoice(rgInterface->itemIndex());
    if (boardSession.connect() == 0) {
        showNoBoard(QStringLiteral("No EVM was foud"));
        return;
    }
    showBoardFound();

    commErrorShown = true;
    ioSuppressed = false;
    // MRST written as 0 puts the chip back to its power-on values; SRST stays 1.
    WriteRegister(0x40, 0x40);
    driveBoardLines(false);
    commErrorShown = false;
    showPowerOnValues();
}
