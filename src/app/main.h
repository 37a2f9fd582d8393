// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include "bindingrows.h"
#include "boardsession.h"
#include "settingsfile.h"
#include "setupexport.h"
#include "shadow.h"

#include <QMainWindow>
#include <QPoint>

#include <array>
#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSlider;
class QToolButton;
class PressableImage;
class RadioGroup;
class QTimer;

namespace Ui {
class TForm1;
class PageDacAdcFunc;
class PageIoConfig;
class PageDacOperation;
class PageAdcOperation;
class PageDacAtt;
class PageAdcAtt;
class PageStatusFlag;
class PageAnalogPath;
} // namespace Ui

// Binding rows as the window uses them, built from the rows of bindingrows.h with the
// register and bits of their field: the control's Tag is its row.
struct SliderBinding {
    uint8_t reg;
    int32_t zeroDb;
    QSlider *track;
    QLineEdit *edit;
};
struct CheckBinding {
    uint8_t reg;
    int32_t bit;
    QCheckBox *box;
};
struct ComboBinding {
    uint8_t reg;
    int32_t shift;
    int32_t width;
    QComboBox *combo;
    std::array<int32_t, 2> lines; // kNoLine where there is none
};
struct RadioBinding {
    uint8_t reg;
    int32_t bit;
    RadioGroup *group;
};

// The main window: the start-up sequence, the access primitives, the register
// shadow, the binding tables and every handler of the window. Its methods are
// defined by concern in main_*.cpp.
class TForm1 : public QMainWindow
{
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    // --- life cycle (main.cpp)
    void FormCreate();
    void FormShow();
    void FormClose();
    void ExitClick();
    void About2Click();
    void RegisterMap1Click();
    void imgMouseDown(PressableImage *sender);
    void imgMouseUp(PressableImage *sender);

    // --- register and pin access (main_access.cpp)
    void WriteBoardPin(int pin, uint8_t value);
    void WriteRegister(uint32_t reg, int32_t value);
    uint8_t ReadRegister(int32_t reg);
    void ReadClick();
    void WriteClick();
    void ShowConnectionPicture(bool connected);
    void setStatusText(const QString &text);
    void ResetShadowToDefaults();
    void ResyncFromDevice();
    void appendHistory(const QString &line);

    // --- bindings and refresh (main_bindings.cpp)
    void buildBindingTables();
    // Every row's control exists and carries its row as Tag; the problems found otherwise.
    QStringList bindingProblems() const;
    void CheckBoxChecked(QCheckBox *sender);
    void ComboBoxChange(QComboBox *sender);
    void RadioGroupClick(RadioGroup *sender);
    void RefreshControls();
    // Sets every bound control to what the shadow holds without running its handler, so nothing
    // is written; a track bar that moves takes its dB text along.
    void showShadow();
    void enableMasterRow(bool dac, bool enabled);

    // --- attenuation (main_attenuation.cpp)
    void TrackChange(QSlider *sender);
    void TrackEditKeyUp(QLineEdit *sender, int key);
    void sbMasterMuteClick(QToolButton *sender);

    // --- interface settings and reconnect (main_interface.cpp)
    void readSettings();
    void ApplyInterfaceChoice(int itemIndex);
    void rgInterfaceClick();
    void cbAddrChange();
    void bBDRSTClick();

    // --- resets, flags and routing (main_resets.cpp)
    void btnMRSTClick();
    void showPowerOnValues();
    void btnSRSTClick();
    void btnRESETClick();
    void btnZeroReadClick();
    void btnZeroClrClick();
    void btnOVFReadClick();
    void btnOVFClrClick();
    void DinMuxClick(QCheckBox *sender);
    void selDoutClick();

    // --- reading the chip back, and the connection's state (main_readback.cpp)
    // Every register read back into the shadow and shown, without a write, a line or a reset.
    void ReadAllClick();
    void AutoReadToggled(bool all);
    void autoReadTick();
    // The time between two automatic reads, from the settings file.
    int autoReadIntervalMs() const;
    // The outcome of one library access: a failure shows in the status and the picture until
    // the next access that succeeds; kind is RDERR, WRERR or SPERR.
    void noteAccess(const char *kind, int32_t code);
    // What the status text shows after a failed access; empty while the accesses succeed.
    const QString &communicationFault() const { return m_commFault; }

    // --- scripts and files (main_files.cpp)
    bool RunScript(const QString &path, bool showProgress);
    void Open1Click();
    void SaveRegisterDumpClick();
    void bSaveHistryClick();
    void bClearHistryClick();
    // File > Export: the setup the shadow holds, in one of the formats of setupexport.h.
    void buildExportMenu();
    void ExportClick(evm::SetupFormat format);

    // State, open to the tests and tools that drive the window.
    // The board, through the same session the tool uses: the library is loaded at the first
    // show and kept, with or without a board, until the window closes.
    evm::BoardSession boardSession;
    int32_t boardPort() const { return boardSession.port(); } // 0: no board
    const evm::ConnectionSettings &connectionSettings() const { return boardSession.settings(); }
    bool ioSuppressed = true;
    bool commErrorShown = false;
    bool historyEnabled = false;
    bool sliderEventsEnabled = true;
    bool dacMuteAll = false;
    bool adcMuteAll = false;
    evm::RegisterShadow shadow;
    int32_t chosenAddress = evm::DefaultChosenAddress;
    std::unique_ptr<evm::SettingsFile> settingsFile;

    struct PictureSlot {
        PressableImage *image = nullptr;
        QPoint home;
    };
    std::array<PictureSlot, 7> pictureButtons{};
    std::array<QLabel *, 8> zeroIndicators{};
    std::array<QLabel *, 6> overflowIndicators{};

    std::array<SliderBinding, std::size(kSliderRows)> sliderTable{};
    std::array<CheckBinding, std::size(kCheckRows)> checkTable{};
    std::array<ComboBinding, std::size(kComboRows)> comboTable{};
    std::array<RadioBinding, std::size(kRadioRows)> radioTable{};

    RadioGroup *rgInterface = nullptr;
    RadioGroup *selDout = nullptr;
    QToolButton *sbDACMute = nullptr;
    QToolButton *sbADCMute = nullptr;
    QLabel *statusLabel = nullptr; // the status bar's one text area

    Ui::TForm1 *ui;
    Ui::PageDacAdcFunc *pageDacAdcFunc;
    Ui::PageIoConfig *pageIoConfig;
    Ui::PageDacOperation *pageDacOperation;
    Ui::PageAdcOperation *pageAdcOperation;
    Ui::PageDacAtt *pageDacAtt;
    Ui::PageAdcAtt *pageAdcAtt;
    Ui::PageStatusFlag *pageStatusFlag;
    Ui::PageAnalogPath *pageAnalogPath;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Runs a handler body; an error that ends it is reported, never thrown across a signal.
    // A handler may let events run (a pause, a modal box), so anything may have run inside it:
    // when the outermost one ends after such events, the bound controls show the shadow again,
    // and a close that came meanwhile takes effect only now.
    void guard(const std::function<void()> &body);
    void connectHandlers();
    void connectBindings();
    void setLamp(QLabel *lamp, int picture);
    // One register read, with the error rule of ReadRegister; false when it failed.
    bool readRegister(int32_t reg, uint8_t &value);
    // The registers read back as ReadAllClick does; false at the first read that failed.
    bool readAll();
    // The flag registers read onto the lamps; false when a read failed.
    bool readFlags();
    void showFlags(uint8_t zero, uint8_t overflow);
    void stopAutoRead();
    // The status text, the picture and its tip as the connection stands.
    void showConnectionState();
    // The text of a failed access's message: the library's reason, when it gives one, beneath it.
    QString withLibraryReason(QString text);
    // The status bar and connection picture once a board has answered.
    void showBoardFound();
    // No board answered: the busy window goes, the status and picture say so, and the box
    // (start-up and the resets word it differently) is shown.
    void showNoBoard(const QString &boxText);
    // The busy window's bar, shown from 0 to 30 for the read-back.
    void showReadBackBar();
    void driveBoardLines(bool withDout);
    // The level the control that drives a board line gives it as it stands.
    uint8_t lineLevelFromControls(int32_t line) const;

    QTimer *m_autoRead = nullptr;
    int m_autoReadMs = 0;
    QString m_commFault;
    bool m_shown = false;
    bool m_closed = false;
    int m_handlerDepth = 0;
    bool m_closeDeferred = false;
    // Set when a user's input or a queued call arrives while a handler runs: something may
    // have run nested inside it.
    bool m_eventsRan = false;
    QObject *m_eventWatch = nullptr;
    // The edit that got the last Enter key press; its key-up acts only on that Enter.
    QObject *m_enterPressedIn = nullptr;
};

// The application's main window, as the other windows reach it.
extern TForm1 *Form1;
