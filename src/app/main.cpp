// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's life cycle: creation, the connection sequence on first
// show, closing; the picture buttons, the menu and the windows beside it.
#include "main.h"
#include "ui_main.h"
#include "ui_page_adcatt.h"
#include "ui_page_adcoperation.h"
#include "ui_page_analogpath.h"
#include "ui_page_dacadcfunc.h"
#include "ui_page_dacatt.h"
#include "ui_page_dacoperation.h"
#include "ui_page_ioconfig.h"
#include "ui_page_statusflag.h"

#include "about.h"
#include "boardlines.h"
#include "inttext.h"
#include "multirowtabbar.h"
#include "pictures.h"
#include "pressableimage.h"
#include "radiogroup.h"
#include "regview.h"
#include "splash.h"
#include "uiseam.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QKeySequence>
#include <QSlider>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>

TForm1 *Form1 = nullptr;

namespace {
// Watches the whole application for what can start a handler from the event loop.
class EventWatch : public QObject
{
public:
    EventWatch(QObject *parent, const int &depth, bool &ran) : QObject(parent), m_depth(depth), m_ran(ran) {}

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (m_depth > 0) {
            switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::Wheel:
            case QEvent::Close:
            case QEvent::MetaCall:
                m_ran = true;
                break;
            default:
                break;
            }
        }
        return false;
    }

private:
    const int &m_depth;
    bool &m_ran;
};
} // namespace

TForm1::TForm1(QWidget *parent)
    : QMainWindow(parent),
      ui(new Ui::TForm1),
      pageDacAdcFunc(new Ui::PageDacAdcFunc),
      pageIoConfig(new Ui::PageIoConfig),
      pageDacOperation(new Ui::PageDacOperation),
      pageAdcOperation(new Ui::PageAdcOperation),
      pageDacAtt(new Ui::PageDacAtt),
      pageAdcAtt(new Ui::PageAdcAtt),
      pageStatusFlag(new Ui::PageStatusFlag),
      pageAnalogPath(new Ui::PageAnalogPath)
{
    if (!Form1)
        Form1 = this;
    ui->setupUi(this);
    pageDacAdcFunc->setupUi(ui->DACADCFunc);
    pageIoConfig->setupUi(ui->IOConfig);
    pageDacOperation->setupUi(ui->DACOperation);
    pageAdcOperation->setupUi(ui->TabSheet2);
    pageDacAtt->setupUi(ui->DACAtt);
    pageAdcAtt->setupUi(ui->ADCAtt);
    pageStatusFlag->setupUi(ui->StatusFlag);
    pageAnalogPath->setupUi(ui->AnalogPath);
    MultiRowTabBar::install(ui->MainTab);

    // Fixed single border: no resizing, no maximise box.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(739, 565 + menuBar()->sizeHint().height());

    ui->Image1->setPixmap(pictures::titleLettering());
    ui->Image2->setPixmap(pictures::logo());
    ui->imgSave->setPixmap(pictures::buttonPlate(QStringLiteral("Save"), QSize(79, 24)));
    ui->imgClear->setPixmap(pictures::buttonPlate(QStringLiteral("Clear"), QSize(79, 24)));
    ui->imgRead->setPixmap(pictures::buttonPlate(QStringLiteral("Read"), QSize(53, 24)));
    ui->imgWrite->setPixmap(pictures::buttonPlate(QStringLiteral("Write"), QSize(53, 24)));
    ui->imgExit->setPixmap(pictures::buttonPlate(QStringLiteral("EXIT"), QSize(111, 24)));
    // A picture button shows its plate from the top left, so the pressed look can crop the bottom row.
    for (PressableImage *img : {ui->imgSave, ui->imgClear, ui->imgRead, ui->imgWrite, ui->imgExit})
        img->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The history log fills its own frame, so a new line repaints the log alone and not the
    // group box beneath it as well: that took half again as long as the line itself.
    ui->Memo1->setAutoFillBackground(true);
    // Tab moves on from the log, to Save and Clear, instead of typing a tab into it.
    ui->Memo1->setTabChangesFocus(true);

    statusLabel = new QLabel(ui->StatusBar1);
    statusLabel->setObjectName(QStringLiteral("StatusText"));
    statusLabel->setIndent(4); // where the status bar draws a message of its own
    ui->StatusBar1->addWidget(statusLabel, 1);

    rgInterface = new RadioGroup(ui->rgInterface);
    selDout = new RadioGroup(findChild<QGroupBox *>(QStringLiteral("selDout")));

    m_eventWatch = new EventWatch(this, m_handlerDepth, m_eventsRan);
    qApp->installEventFilter(m_eventWatch);

    // The usual shortcuts beside the captions, which stay as designed.
    ui->Open1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    ui->SaveRegisterDump->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    ui->Exit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    ui->About2->setShortcut(QKeySequence(Qt::Key_F1));

    // On a bench a stray scroll must not change the chip: the wheel turns only a combo box or a
    // track bar that has the keyboard focus, and never gives it the focus.
    for (QWidget *w : findChildren<QWidget *>())
        if (qobject_cast<QComboBox *>(w) || qobject_cast<QSlider *>(w)) {
            w->setFocusPolicy(Qt::StrongFocus);
            w->installEventFilter(this);
        }

    connectHandlers();
    FormCreate();
}

TForm1::~TForm1()
{
    if (!m_closed)
        FormClose();
    if (Form1 == this)
        Form1 = nullptr;
    delete pageAnalogPath;
    delete pageStatusFlag;
    delete pageAdcAtt;
    delete pageDacAtt;
    delete pageAdcOperation;
    delete pageDacOperation;
    delete pageIoConfig;
    delete pageDacAdcFunc;
    delete ui;
}

void TForm1::FormCreate()
{
    boardSession.end();
    commErrorShown = false;
    ioSuppressed = true;
    historyEnabled = false;
    sliderEventsEnabled = true;

    pictureButtons = {};
    for (PressableImage *img : {ui->imgSave, ui->imgClear, ui->imgRead, ui->imgWrite, ui->imgExit}) {
        const int slot = tagOf(img);
        pictureButtons[slot].image = img;
        pictureButtons[slot].home = img->pos();
        img->resize(img->width(), 24);
    }

    for (int i = 0; i < 8; ++i)
        zeroIndicators[i] = findChild<QLabel *>(QStringLiteral("ZERO%1").arg(i + 1));
    for (int i = 0; i < 6; ++i)
        overflowIndicators[i] = findChild<QLabel *>(QStringLiteral("OVF%1").arg(i + 1));

    dacMuteAll = false;
    adcMuteAll = false;

    boardSession.settings() = evm::ConnectionSettings{};
    boardSession.settings().word56 = 3;

    readSettings();
    buildBindingTables();
    // A form whose Tags do not match the tables must not bind silently: a debug build stops here,
    // a release build says so at start (and the handlers refuse the mismatched control).
    if (const QStringList problems = bindingProblems(); !problems.isEmpty()) {
        qCritical("Control bindings do not match the form:\n%s", qPrintable(problems.join(QLatin1Char('\n'))));
        Q_ASSERT_X(false, "TForm1", "control bindings do not match the form");
    }

    btnZeroClrClick();
    btnOVFClrClick();
}

void TForm1::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    guard([this] { FormShow(); });
}

void TForm1::FormShow()
{
    ui->Memo1->clear();
    SplashForm->show();
    SplashForm->setText(QStringLiteral("Loading..."));
    SplashForm->repaintNow();

    shadow.fillReadableMask();

    const auto status = boardSession.load();
    if (status != evm::BoardLibrary::LoadStatus::Loaded) {
        SplashForm->hide();
        UiSeam::current().messageBox(this,
                                     status == evm::BoardLibrary::LoadStatus::CannotLoad ? QStringLiteral("Cannot load DLL")
                                                                                         : QStringLiteral("Invalid DLL"),
                                     QStringLiteral("DLL error"), UiSeam::Icon::Error, UiSeam::Ok);
        return;
    }

    ioSuppressed = true;
    if (boardSession.connect() == 0) {
        showNoBoard(QLatin1String(evm::NoBoardText));
        ResetShadowToDefaults();
        RefreshControls();
        return;
    }
    showBoardFound();

    SplashForm->setText(QStringLiteral("Initializing..."));
    showReadBackBar();

    ioSuppressed = false;
    driveBoardLines(true);
    ioSuppressed = true;
    ResyncFromDevice();
    ioSuppressed = false;

    if (QFileInfo(QStringLiteral("startup.csv")).isFile())
        RunScript(QStringLiteral("startup.csv"), false);

    RefreshControls();
    SplashForm->hide();
    historyEnabled = true;
}

// The board lines of start-up and Reconnect, read from the controls as they stand.
// Reconnect leaves the DOUT lines as they are.
void TForm1::driveBoardLines(bool withDout)
{
    for (const evm::StartupLine &s : evm::kStartupLines)
        WriteBoardPin(s.line, s.level == evm::FromControl ? lineLevelFromControls(s.line) : uint8_t(s.level));
    if (withDout)
        selDoutClick();
}

uint8_t TForm1::lineLevelFromControls(int32_t line) const
{
    for (const ComboBinding &row : comboTable)
        if (std::ranges::find(row.lines, line) != row.lines.end())
            return row.combo->currentIndex() == 0 ? 1 : 0;
    for (int i = 0; i < 4; ++i)
        if (evm::BoardLine::dinSelect(i) == line)
            return findChild<QCheckBox *>(QStringLiteral("cbDIN%1").arg(i + 1))->isChecked() ? 1 : 0;
    Q_ASSERT_X(false, "lineLevelFromControls", "no control drives this line");
    return 0;
}

void TForm1::closeEvent(QCloseEvent *event)
{
    // A handler is still running (this close came through its pause or its box): it must end
    // against a loaded library, so the window closes once it has finished.
    if (m_handlerDepth > 0 && !m_closed) {
        m_closeDeferred = true;
        event->ignore();
        return;
    }
    if (!m_closed)
        FormClose();
    event->accept();
    // Closing the main window ends the program, whatever other window is open.
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void TForm1::FormClose()
{
    m_closed = true;
    if (m_autoRead)
        m_autoRead->stop();
    // Whatever still arrives before the program ends finds no board (the port is 0 once closed).
    boardSession.end();
    // Every value was written through when it was set: nothing is left to flush.
    settingsFile.reset();
}

void TForm1::ExitClick()
{
    close();
}

void TForm1::About2Click()
{
    if (boardSession.isLoaded())
        AboutDialog->lDLLver->setText(libraryVersionText(boardSession.version()));
    AboutDialog->lPort->setText(QString::number(boardPort()));
    UiSeam::current().execDialog(AboutDialog);
}

void TForm1::RegisterMap1Click()
{
    RegViewForm->show();
    RegViewForm->raise();
    RegViewForm->activateWindow();
}

void TForm1::imgMouseDown(PressableImage *sender)
{
    PictureSlot &slot = pictureButtons[tagOf(sender)];
    if (!slot.image)
        return;
    slot.image->move(slot.home + QPoint(1, 1));
    slot.image->resize(slot.image->width(), 23);
}

void TForm1::imgMouseUp(PressableImage *sender)
{
    PictureSlot &slot = pictureButtons[tagOf(sender)];
    if (!slot.image)
        return;
    slot.image->move(slot.home);
    slot.image->resize(slot.image->width(), 24);
}

void TForm1::guard(const std::function<void()> &body)
{
    // After the close nothing runs: the library is gone and the program is ending.
    if (m_closed)
        return;
    ++m_handlerDepth;
    try {
        body();
    } catch (const evm::ConversionError &e) {
        UiSeam::current().errorReport(QString::fromStdString(e.message()));
    } catch (const std::exception &e) {
        UiSeam::current().errorReport(QString::fromLocal8Bit(e.what()));
    }
    if (--m_handlerDepth > 0)
        return;
    // Without a board the controls move freely and the shadow stays as it was.
    if (m_eventsRan && boardPort() != 0 && !m_closed)
        showShadow();
    m_eventsRan = false;
    if (m_closeDeferred) {
        m_closeDeferred = false;
        // Queued: the handler's own caller (a button's click, a show) finishes first.
        QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
    }
}

void TForm1::connectHandlers()
{
    connect(ui->Open1, &QAction::triggered, this, [this] { guard([this] { Open1Click(); }); });
    connect(ui->SaveRegisterDump, &QAction::triggered, this, [this] { guard([this] { SaveRegisterDumpClick(); }); });
    buildExportMenu();
    connect(ui->Exit1, &QAction::triggered, this, [this] { ExitClick(); });
    connect(ui->RegisterMap1, &QAction::triggered, this, [this] { RegisterMap1Click(); });
    connect(ui->About2, &QAction::triggered, this, [this] { guard([this] { About2Click(); }); });
    // Read all is for a window at rest: inside another handler (a key pressed in a pause) it
    // would show a chip half way through that handler's work.
    ui->actReadAll->setShortcut(QKeySequence(Qt::Key_F5));
    connect(ui->actReadAll, &QAction::triggered, this, [this] {
        if (m_handlerDepth == 0)
            guard([this] { ReadAllClick(); });
    });
    m_autoRead = new QTimer(this);
    connect(m_autoRead, &QTimer::timeout, this, &TForm1::autoReadTick);
    connect(ui->actAutoRead, &QAction::toggled, this, [this] { AutoReadToggled(false); });
    connect(ui->actAutoReadAll, &QAction::toggled, this, [this] { AutoReadToggled(true); });

    for (PressableImage *img : {ui->imgSave, ui->imgClear, ui->imgRead, ui->imgWrite, ui->imgExit}) {
        connect(img, &PressableImage::mouseDown, this, &TForm1::imgMouseDown);
        connect(img, &PressableImage::mouseUp, this, &TForm1::imgMouseUp);
    }
    connect(ui->imgSave, &PressableImage::clicked, this, [this] { guard([this] { bSaveHistryClick(); }); });
    connect(ui->imgClear, &PressableImage::clicked, this, [this] { guard([this] { bClearHistryClick(); }); });
    connect(ui->imgRead, &PressableImage::clicked, this, [this] { guard([this] { ReadClick(); }); });
    connect(ui->imgWrite, &PressableImage::clicked, this, [this] { guard([this] { WriteClick(); }); });
    connect(ui->imgExit, &PressableImage::clicked, this, [this] { ExitClick(); });

    ui->RDA_reg->installEventFilter(this);
    ui->RDA_data->installEventFilter(this);

    connect(ui->btnMRST, &QPushButton::clicked, this, [this] { guard([this] { btnMRSTClick(); }); });
    connect(ui->btnSRST, &QPushButton::clicked, this, [this] { guard([this] { btnSRSTClick(); }); });
    connect(ui->btnRESET, &QPushButton::clicked, this, [this] { guard([this] { btnRESETClick(); }); });
    connect(ui->bBDRST, &QPushButton::clicked, this, [this] { guard([this] { bBDRSTClick(); }); });
    connect(rgInterface, &RadioGroup::clicked, this, [this] { guard([this] { rgInterfaceClick(); }); });
    connect(ui->cbAddr, &QComboBox::activated, this, [this] { guard([this] { cbAddrChange(); }); });

    connectBindings();
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Wheel) {
        auto *w = qobject_cast<QWidget *>(watched);
        if (w && !w->hasFocus()) {
            event->ignore();
            return true;
        }
        return QMainWindow::eventFilter(watched, event);
    }
    if ((event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) || !qobject_cast<QLineEdit *>(watched))
        return QMainWindow::eventFilter(watched, event);
    auto *keyEvent = static_cast<QKeyEvent *>(event);
    const int qtKey = keyEvent->key();
    const bool enter = qtKey == Qt::Key_Return || qtKey == Qt::Key_Enter;
    // KeyPressStopBeep: the Enter character never reaches the edit.
    if (event->type() == QEvent::KeyPress) {
        if (enter && !keyEvent->isAutoRepeat())
            m_enterPressedIn = watched;
        return enter;
    }
    if (enter) {
        // The release of an Enter pressed elsewhere (the Enter that closed an error box, whose
        // release lands here once the box is gone) is not this edit's Enter: acting on it would
        // open the box again, without end. A held Enter acts once, on its last release.
        if (keyEvent->isAutoRepeat() || m_enterPressedIn != watched)
            return false;
        m_enterPressedIn = nullptr;
    }
    const int key = enter ? 13 : qtKey;
    if (watched == ui->RDA_reg) {
        if (key == 13)
            guard([this] { ReadClick(); });
    } else if (watched == ui->RDA_data) {
        if (key == 13)
            guard([this] { WriteClick(); });
    } else if (auto *edit = qobject_cast<QLineEdit *>(watched)) {
        guard([this, edit, key] { TrackEditKeyUp(edit, key); });
    }
    return false;
}
