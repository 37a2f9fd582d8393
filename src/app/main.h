#pragma once
#include "boardlib.h"
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
class QSettings;
class QSlider;
class QToolButton;
class PressableImage;
class RadioGroup;

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

// Binding rows: the control's Tag is its row.
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
    void btnSRSTClick();
    void btnRESETClick();
    void btnZeroReadClick();
    void btnZeroClrClick();
    void btnOVFReadClick();
    void btnOVFClrClick();
    void DinMuxClick(QCheckBox *sender);
    void selDoutClick();

    // --- scripts and files (main_files.cpp)
    bool RunScript(const QString &path, bool showProgress);
    void Open1Click();
    void SaveRegisterDumpClick();
    void bSaveHistryClick();
    void bClearHistryClick();

    // State, open to the tests and tools that drive the window.
    evm::BoardLibrary libraryHandle;
    int32_t boardPort = 0;
    bool ioSuppressed = true;
    bool commErrorShown = false;
    bool historyEnabled = false;
    bool sliderEventsEnabled = true;
    bool dacMuteAll = false;
    bool adcMuteAll = false;
    evm::RegisterShadow shadow;
    evm::ConnectionSettings connectionSettings;
    int32_t chosenAddress = 69;
    std::unique_ptr<QSettings> settingsFile;

    struct PictureSlot {
        PressableImage *image = nullptr;
        QPoint home;
    };
    std::array<PictureSlot, 7> pictureButtons{};
    std::array<QLabel *, 8> zeroIndicators{};
    std::array<QLabel *, 6> overflowIndicators{};

    std::array<SliderBinding, 16> sliderTable{};
    std::array<CheckBinding, 44> checkTable{};
    std::array<ComboBinding, 14> comboTable{};
    std::array<RadioBinding, 5> radioTable{};

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
    void guard(const std::function<void()> &body);
    void connectHandlers();
    void connectBindings();
    void setLamp(QLabel *lamp, int picture);
    // The status bar and connection picture once a board has answered.
    void showBoardFound();
    // No board answered: the busy window goes, the status and picture say so, and the box
    // (start-up and the resets word it differently) is shown.
    void showNoBoard(const QString &boxText);
    // The busy window's bar, shown from 0 to 30 for the read-back.
    void showReadBackBar();
    void driveBoardLines(bool withDout);

    bool m_shown = false;
    bool m_closed = false;
    // The edit that got the last Enter key press; its key-up acts only on that Enter.
    QObject *m_enterPressedIn = nullptr;
};

// The application's main window, as the other windows reach it.
extern TForm1 *Form1;
