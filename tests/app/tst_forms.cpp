// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's forms as the window builds them (frame, then the eight
// pages, then the multi-row tab bar): every control's name, kind, place,
// caption, Tag, hint, items and initial state that the window's logic relies
// on, that nothing is clipped or overlapping, and how the tab rows behave.
#include "fielditems.h"
#include "multirowtabbar.h"
#include "pressableimage.h"
#include "ui_main.h"
#include "ui_page_adcatt.h"
#include "ui_page_adcoperation.h"
#include "ui_page_analogpath.h"
#include "ui_page_dacadcfunc.h"
#include "ui_page_dacatt.h"
#include "ui_page_dacoperation.h"
#include "ui_page_ioconfig.h"
#include "ui_page_statusflag.h"

#include <QFontInfo>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QToolTip>

#include <memory>

namespace {

// The frame and its pages, set up in the order the main window uses.
struct Forms
{
    QMainWindow window;
    Ui::TForm1 ui;
    Ui::PageDacAdcFunc dacAdcFunc;
    Ui::PageIoConfig ioConfig;
    Ui::PageDacOperation dacOperation;
    Ui::PageAdcOperation adcOperation;
    Ui::PageDacAtt dacAtt;
    Ui::PageAdcAtt adcAtt;
    Ui::PageStatusFlag statusFlag;
    Ui::PageAnalogPath analogPath;
    MultiRowTabBar *bar = nullptr;

    Forms()
    {
        ui.setupUi(&window);
        dacAdcFunc.setupUi(ui.DACADCFunc);
        ioConfig.setupUi(ui.IOConfig);
        dacOperation.setupUi(ui.DACOperation);
        adcOperation.setupUi(ui.TabSheet2);
        dacAtt.setupUi(ui.DACAtt);
        adcAtt.setupUi(ui.ADCAtt);
        statusFlag.setupUi(ui.StatusFlag);
        analogPath.setupUi(ui.AnalogPath);
        bar = MultiRowTabBar::install(ui.MainTab);
        fillFieldItems(&window);
        window.setFixedSize(739, 565 + window.menuBar()->sizeHint().height());
    }
    void show()
    {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
    template <typename T = QWidget>
    T *find(const QString &name) const
    {
        return window.findChild<T *>(name);
    }
};

const QStringList pageNames = {"DACADCFunc", "IOConfig", "DACOperation", "TabSheet2",
                               "DACAtt", "ADCAtt", "StatusFlag", "AnalogPath"};
const QStringList pageCaptions = {"DAC/ADC Inteface and Sampling Mode", "DAC/ADC I/O Configuration",
                                  "DAC Operation", "ADC Operation", "DAC Attenuation", "ADC Attenuation",
                                  "DAC Zero / ADC Overflow Flag", "Audio Signal Routing"};

QString hint(int reg, int hi, int lo = -1)
{
    QString text = QStringLiteral("Reg#%1H, Bit%2").arg(QString::number(reg, 16).toUpper()).arg(hi);
    return lo < 0 ? text : text + QStringLiteral("-%1").arg(lo);
}

// One control of the window: where it lives, what it is, and what it carries.
struct Control
{
    QString name, parent, kind, text;
    int tag = -1; // -1: no Tag
    QString hint;
};

QList<Control> expectedControls()
{
    QList<Control> c;
    auto add = [&c](QString name, QString parent, QString kind, QString text = {}, int tag = -1,
                    QString tip = {}) {
        c.append({std::move(name), std::move(parent), std::move(kind), std::move(text), tag, std::move(tip)});
    };
    const QString central = "centralwidget";
    add("Image1", central, "QLabel", "");
    add("Image2", central, "QLabel", "");
    add("MainTab", central, "QTabWidget");
    add("GroupBox23", central, "QGroupBox", "Register setting history");
    add("Memo1", "GroupBox23", "QPlainTextEdit");
    add("imgSave", "GroupBox23", "PressableImage", "", 2);
    add("imgClear", "GroupBox23", "PressableImage", "", 3);
    add("GroupBox25", central, "QGroupBox", "Register direct access");
    add("RDA_reg", "GroupBox25", "QLineEdit", "0x40");
    add("RDA_data", "GroupBox25", "QLineEdit", "0x00");
    add("imgRead", "GroupBox25", "PressableImage", "", 4);
    add("imgWrite", "GroupBox25", "PressableImage", "", 5);
    add("gbReset", central, "QGroupBox", "Reset control");
    add("btnMRST", "gbReset", "QPushButton", "MRST", -1, hint(0x40, 7));
    add("btnSRST", "gbReset", "QPushButton", "SRST", -1, hint(0x40, 6));
    add("btnRESET", "gbReset", "QPushButton", "RESET");
    add("GroupBox3", central, "QGroupBox", "PC-EVM Communication and Status");
    add("Bevel2", "GroupBox3", "QFrame");
    add("imgConnection", "GroupBox3", "QLabel", "");
    add("bBDRST", "GroupBox3", "QPushButton", "Reconnect");
    add("rgInterface", central, "QGroupBox", "Interface");
    add("Label66", central, "QLabel", "Address:");
    add("cbAddr", central, "QComboBox");
    add("imgExit", central, "PressableImage", "", 6);
    add("StatusBar1", "Form1", "QStatusBar");
    add("MainMenu1", "Form1", "QMenuBar");

    add("GroupBox6", "DACADCFunc", "QGroupBox", "Audio interface");
    add("GroupBox21", "DACADCFunc", "QGroupBox", "Sampling mode");
    add("cbDACMasterSlave", "GroupBox6", "QComboBox", {}, 0, hint(0x41, 6, 4));
    add("cbDACFMT", "GroupBox6", "QComboBox", {}, 1, hint(0x41, 3, 0));
    add("cbADCMasterSlave", "GroupBox6", "QComboBox", {}, 2, hint(0x51, 6, 4));
    add("cbADCFMT", "GroupBox6", "QComboBox", {}, 3, hint(0x51, 2, 0));
    add("cbDACSAM", "GroupBox21", "QComboBox", {}, 4, hint(0x40, 1, 0));
    add("cbADCSAM", "GroupBox21", "QComboBox", {}, 5, hint(0x50, 1, 0));

    add("GroupBox1", "IOConfig", "QGroupBox", "DAC output phase");
    add("GroupBox7", "IOConfig", "QGroupBox", "ADC input phase");
    add("GroupBox8", "IOConfig", "QGroupBox", "ADC input type");
    for (int i = 1; i <= 8; ++i)
        add(QString("cInvDAC%1").arg(i), "GroupBox1", "QCheckBox", QString("DAC%1 Invert").arg(i), i - 1,
            hint(0x43, i - 1));
    for (int i = 1; i <= 6; ++i) {
        add(QString("cInvADC%1").arg(i), "GroupBox7", "QCheckBox", QString("ADC%1 Invert").arg(i), 7 + i,
            hint(0x54, i - 1));
        add(QString("cSEADC%1").arg(i), "GroupBox8", "QCheckBox", QString("ADC%1 Single End").arg(i), 13 + i,
            hint(0x53, i - 1));
    }

    const QStringList pairs = {"1/2", "3/4", "5/6", "7/8"};
    add("rgDACPowSav", "DACOperation", "QGroupBox", "DAC power save mode", 0, hint(0x41, 7));
    add("DAC_ALC", "DACOperation", "QGroupBox", "DAC operation disable");
    add("GroupBox9", "DACOperation", "QGroupBox", "DAC De-emphasis");
    add("GroupBox10", "DACOperation", "QGroupBox", "DAC digital filter roll-off");
    add("cbDEMP", "GroupBox9", "QComboBox", {}, 9, hint(0x46, 5, 4));
    for (int i = 0; i < 4; ++i) {
        add(QString("cOPEDA%1").arg(i), "DAC_ALC", "QCheckBox", "DAC " + pairs[i], 34 + i, hint(0x42, 4 + i));
        add("cbFLT" + QString(pairs[i]).remove('/'), "GroupBox10", "QComboBox", {}, 10 + i, hint(0x42, i));
    }

    add("GroupBox11", "TabSheet2", "QGroupBox", "Power save enable");
    add("GroupBox24", "TabSheet2", "QGroupBox", "HPF bypass enable");
    for (int i = 0; i < 3; ++i) {
        const QString n = QString(pairs[i]).remove('/');
        add("cPowADC" + n, "GroupBox11", "QCheckBox", "ADC " + pairs[i], 38 + i, hint(0x52, 4 + i));
        add("cHPFADC" + n, "GroupBox24", "QCheckBox", "ADC " + pairs[i], 41 + i, hint(0x52, i));
    }

    add("sbDACMute", "DACAtt", "QToolButton", "Mute", 0);
    add("sbADCMute", "ADCAtt", "QToolButton", "Mute", 1);
    for (int i = 0; i <= 8; ++i) {
        add(QString("tkDAC%1").arg(i), "DACAtt", "QSlider", {}, i, hint(0x47 + i, 7, 0));
        add(QString("edDAC%1").arg(i), "DACAtt", "QLineEdit", "0.0", i, hint(0x47 + i, 7, 0));
        if (i > 0)
            add(QString("cDAC%1").arg(i), "DACAtt", "QCheckBox", "Mute", 19 + i, hint(0x44, i - 1));
    }
    for (int i = 0; i <= 6; ++i) {
        add(QString("tkADC%1").arg(i), "ADCAtt", "QSlider", {}, 9 + i, hint(0x58 + i, 7, 0));
        add(QString("edADC%1").arg(i), "ADCAtt", "QLineEdit", "0.0", 9 + i, hint(0x58 + i, 7, 0));
        if (i > 0)
            add(QString("cADC%1").arg(i), "ADCAtt", "QCheckBox", "Mute", 27 + i, hint(0x55, i - 1));
    }
    add("rgDACAttMode", "DACAtt", "QGroupBox", "Attenuation mode", 1, hint(0x46, 7));
    add("rgDACAttSpeed", "DACAtt", "QGroupBox", "Attenuation speed", 2, hint(0x46, 6));
    add("rgADCAttMode", "ADCAtt", "QGroupBox", "Attenuation mode", 3, hint(0x57, 7));
    add("rgADCAttSpeed", "ADCAtt", "QGroupBox", "Attenuation speed", 4, hint(0x57, 6));

    add("GroupBox14", "StatusFlag", "QGroupBox", "DAC zero flag");
    add("GroupBox15", "StatusFlag", "QGroupBox", "ADC overflow flag");
    add("cbZeroFunc", "GroupBox14", "QComboBox", {}, 6, hint(0x46, 3, 1));
    add("cbZeroPole", "GroupBox14", "QComboBox", {}, 7, hint(0x46, 0));
    add("cbOvfPole", "GroupBox15", "QComboBox", {}, 8, hint(0x57, 0));
    for (int i = 1; i <= 8; ++i)
        add(QString("ZERO%1").arg(i), "GroupBox14", "QLabel", "", -1, hint(0x45, i - 1));
    for (int i = 1; i <= 6; ++i)
        add(QString("OVF%1").arg(i), "GroupBox15", "QLabel", "", -1, hint(0x56, i - 1));
    add("btnZeroClr", "GroupBox14", "QPushButton", "Clear");
    add("btnZeroRead", "GroupBox14", "QPushButton", "Read");
    add("btnOVFClr", "GroupBox15", "QPushButton", "Clear");
    add("btnOVFRead", "GroupBox15", "QPushButton", "Read");

    add("selDin", "AnalogPath", "QGroupBox", "DIN data select", -1, "DAC input data from RXM2210");
    for (int i = 1; i <= 4; ++i)
        add(QString("cbDIN%1").arg(i), "selDin", "QCheckBox", QString("DIN%1 (DAC%2, DAC%3)").arg(i).arg(2 * i - 1).arg(2 * i),
            i - 1);
    add("selDout", "AnalogPath", "QGroupBox", "DOUT data select", 0, "ADC output data to TXM2220");
    return c;
}

QString textOf(const QWidget *w)
{
    if (auto *b = qobject_cast<const QAbstractButton *>(w))
        return b->text();
    if (auto *g = qobject_cast<const QGroupBox *>(w))
        return g->title();
    if (auto *l = qobject_cast<const QLabel *>(w))
        return l->text();
    if (auto *e = qobject_cast<const QLineEdit *>(w))
        return e->text();
    return {};
}

QRect rectIn(const QWidget *w, const QWidget *ancestor)
{
    return {w->mapTo(ancestor, QPoint(0, 0)), w->size()};
}

// The label with this text among the direct children of parent.
QLabel *labelIn(const QWidget *parent, const QString &text)
{
    for (QLabel *l : parent->findChildren<QLabel *>(Qt::FindDirectChildrenOnly))
        if (l->text() == text)
            return l;
    return nullptr;
}

bool sameRow(const QRect &a, const QRect &b)
{
    return qAbs(a.center().y() - b.center().y()) <= 3;
}

} // namespace

class TestForms : public QObject
{
    Q_OBJECT

private slots:
    void controls_data();
    void controls();
    void onlyListedControlsCarryTagsAndHints();
    void frameWindow();
    void frameMenus();
    void frameGeometry_data();
    void frameGeometry();
    void smallLabelsAboveTheirControls_data();
    void smallLabelsAboveTheirControls();
    void pages();
    void comboItems_data();
    void comboItems();
    void radioGroups_data();
    void radioGroups();
    void initialChecks();
    void attenuatorRows_data();
    void attenuatorRows();
    void lamps_data();
    void lamps();
    void notes_data();
    void notes();
    void nothingClippedOrOverlapping();

    void tabsWrapIntoFullRows();
    void clickingATabSelectsItsPage_data();
    void clickingATabSelectsItsPage();
    void disabledTabIgnoresClicks();
    void keyboardFocusAndArrows();
    void tabToolTipsFollowRows();
    void installKeepsTabsAndPage();
    void rowsFollowWidth();
};

void TestForms::controls_data()
{
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("tag");
    QTest::addColumn<QString>("tip");
    for (const Control &c : expectedControls())
        QTest::newRow(qPrintable(c.name)) << c.parent << c.kind << c.text << c.tag << c.hint;
}

void TestForms::controls()
{
    QFETCH(QString, parent);
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(int, tag);
    QFETCH(QString, tip);
    Forms f;
    const QString name = QTest::currentDataTag();
    QList<QWidget *> found = f.window.findChildren<QWidget *>(name);
    QCOMPARE(found.size(), 1);
    QWidget *w = found.first();
    QVERIFY2(w->inherits(qPrintable(kind)), w->metaObject()->className());
    QCOMPARE(w->parentWidget()->objectName(), parent);
    if (!text.isNull())
        QCOMPARE(textOf(w), text);
    if (tag < 0) {
        QVERIFY(!w->property("Tag").isValid());
    } else {
        QVERIFY(w->property("Tag").isValid());
        QCOMPARE(w->property("Tag").toInt(), tag);
    }
    QCOMPARE(w->toolTip(), tip);
}

void TestForms::onlyListedControlsCarryTagsAndHints()
{
    Forms f;
    QSet<QString> tagged, hinted;
    for (const Control &c : expectedControls()) {
        if (c.tag >= 0)
            tagged << c.name;
        if (!c.hint.isEmpty())
            hinted << c.name;
    }
    QSet<QString> withTag, withTip;
    for (QWidget *w : f.window.findChildren<QWidget *>()) {
        if (w->property("Tag").isValid())
            withTag << w->objectName();
        if (!w->toolTip().isEmpty())
            withTip << w->objectName();
    }
    auto sorted = [](const QSet<QString> &names) {
        QStringList list(names.begin(), names.end());
        list.sort();
        return list;
    };
    QCOMPARE(sorted(withTag), sorted(tagged));
    QCOMPARE(sorted(withTip), sorted(hinted));
}

void TestForms::frameWindow()
{
    Forms f;
    f.show();
    QCOMPARE(f.window.objectName(), QStringLiteral("Form1"));
    QCOMPARE(f.window.windowTitle(), QStringLiteral("EVM Controller"));
    QCOMPARE(f.window.font().family(), QStringLiteral("Arial"));
    QCOMPARE(f.window.font().pointSize(), 9);
    QVERIFY(f.window.styleSheet().isEmpty());
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        QCOMPARE(f.window.palette().color(group, QPalette::Window), QColor(0xC0, 0xC0, 0xC0));
    QCOMPARE(f.window.centralWidget(), f.ui.centralwidget);
    QCOMPARE(f.ui.centralwidget->size(), QSize(739, 546));
    QCOMPARE(f.window.statusBar(), f.ui.StatusBar1);
    QCOMPARE(f.ui.StatusBar1->height(), 19);
    QCOMPARE(f.ui.StatusBar1->geometry().top(), f.ui.centralwidget->geometry().bottom() + 1);
    QVERIFY(f.ui.StatusBar1->currentMessage().isEmpty());
    QVERIFY(!f.ui.StatusBar1->isSizeGripEnabled());
    QVERIFY(f.ui.Memo1->toPlainText().isEmpty());
    QCOMPARE(f.ui.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(f.ui.Bevel2->frameShape(), QFrame::Panel);
    QCOMPARE(f.ui.Bevel2->frameShadow(), QFrame::Sunken);
    // Pictures are assigned at run time; the forms leave them empty.
    for (QLabel *picture : {f.ui.Image1, f.ui.Image2, f.ui.imgConnection, static_cast<QLabel *>(f.ui.imgSave)})
        QVERIFY(picture->pixmap().isNull() && picture->text().isEmpty());
}

void TestForms::frameMenus()
{
    Forms f;
    QCOMPARE(f.window.menuBar(), f.ui.MainMenu1);
    auto texts = [](const QList<QAction *> &actions) {
        QStringList out;
        for (QAction *a : actions)
            out << (a->isSeparator() ? QStringLiteral("-") : a->objectName() + '=' + a->text());
        return out;
    };
    QCOMPARE(texts(f.ui.MainMenu1->actions()), QStringList({"=&File", "=&Tool", "=&Help"}));
    QCOMPARE(f.ui.MainMenu1->actions().at(0)->menu(), f.ui.File1);
    QCOMPARE(f.ui.MainMenu1->actions().at(1)->menu(), f.ui.View1);
    QCOMPARE(f.ui.MainMenu1->actions().at(2)->menu(), f.ui.About1);
    QCOMPARE(texts(f.ui.File1->actions()),
             QStringList({"Open1=&Open script", "SaveRegisterDump=&Save register snapshot", "-", "Exit1=Exit"}));
    QCOMPARE(texts(f.ui.View1->actions()),
             QStringList({"RegisterMap1=Register Map", "-", "actReadAll=Read &all from the chip",
                          "actAutoRead=A&utomatic read of the flags", "actAutoReadAll=Automatic read of all &registers"}));
    // Both automatic reads are off unless the user asks: nothing changes for those who do not.
    QVERIFY(f.ui.actAutoRead->isCheckable() && !f.ui.actAutoRead->isChecked());
    QVERIFY(f.ui.actAutoReadAll->isCheckable() && !f.ui.actAutoReadAll->isChecked());
    QCOMPARE(texts(f.ui.About1->actions()), QStringList({"About2=&About"}));
}

void TestForms::frameGeometry_data()
{
    // Client coordinates of the frame's controls; -1 where the size is free.
    QTest::addColumn<QRect>("rect");
    QTest::newRow("Image1") << QRect(24, 8, -1, -1);
    QTest::newRow("Image2") << QRect(552, 7, -1, -1);
    QTest::newRow("MainTab") << QRect(24, 37, 458, 420);
    QTest::newRow("GroupBox23") << QRect(496, 32, 217, 354);
    QTest::newRow("GroupBox25") << QRect(496, 392, 217, 65);
    QTest::newRow("gbReset") << QRect(24, 464, 223, 70);
    QTest::newRow("GroupBox3") << QRect(258, 464, 223, 70);
    QTest::newRow("rgInterface") << QRect(496, 464, 68, 70);
    QTest::newRow("Label66") << QRect(596, 470, -1, -1);
    QTest::newRow("cbAddr") << QRect(650, 470, -1, -1);
    QTest::newRow("imgExit") << QRect(600, 506, 111, 24);
    QTest::newRow("imgSave") << QRect(-1, -1, 79, 24);
    QTest::newRow("imgClear") << QRect(-1, -1, 79, 24);
    QTest::newRow("imgRead") << QRect(-1, -1, 53, 24);
    QTest::newRow("imgWrite") << QRect(-1, -1, 53, 24);
    QTest::newRow("imgConnection") << QRect(-1, -1, 72, 19);
}

void TestForms::frameGeometry()
{
    QFETCH(QRect, rect);
    Forms f;
    f.show();
    QWidget *w = f.find(QTest::currentDataTag());
    QVERIFY(w);
    const QRect at = rectIn(w, f.ui.centralwidget);
    if (rect.x() >= 0)
        QCOMPARE(at.topLeft(), rect.topLeft());
    if (rect.width() >= 0)
        QCOMPARE(at.size(), rect.size());
}

void TestForms::smallLabelsAboveTheirControls_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("control");
    QTest::newRow("Register Reset") << "Register Reset" << "btnMRST";
    QTest::newRow("Re-Sync") << "Re-Sync" << "btnSRST";
    QTest::newRow("H/W Reset") << "H/W Reset" << "btnRESET";
    QTest::newRow("Address") << "Address" << "RDA_reg";
    QTest::newRow("Data") << "Data" << "RDA_data";
    QTest::newRow("Zer flag status:") << "Zer flag status:" << "ZERO1";
    QTest::newRow("Overflow flag status:") << "Overflow flag status:" << "OVF1";
}

void TestForms::smallLabelsAboveTheirControls()
{
    QFETCH(QString, label);
    QFETCH(QString, control);
    Forms f;
    QWidget *c = f.find(control);
    QVERIFY(c);
    QLabel *l = labelIn(c->parentWidget(), label);
    QVERIFY2(l, "no label with this text beside the control");
    QVERIFY(l->geometry().bottom() < c->geometry().top());
    QVERIFY(l->geometry().left() < c->geometry().right() && c->geometry().left() < l->geometry().right());
}

void TestForms::pages()
{
    Forms f;
    QCOMPARE(f.ui.MainTab->count(), pageNames.size());
    QCOMPARE(f.ui.MainTab->currentIndex(), 0);
    for (int i = 0; i < pageNames.size(); ++i) {
        QCOMPARE(f.ui.MainTab->widget(i)->objectName(), pageNames[i]);
        QCOMPARE(f.ui.MainTab->tabText(i), pageCaptions[i]);
        QVERIFY(!f.ui.MainTab->widget(i)->children().isEmpty());
    }
}

void TestForms::comboItems_data()
{
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("label"); // the label to its left; empty for none
    const QStringList masters = {"Slave", "Master (768fs)", "Master (512fs)", "Master (384fs)", "Master (256fs)"};
    const QStringList formats = {"24bit IIS", "24bit Left Justified", "24bit Right Justified",
                                 "16bit Right Justified", "24bit IIS DSP", "24bit Left Justified DSP",
                                 "24bit IIS TDM", "24bit Left Justified TDM"};
    const QStringList rolloff = {"Sharp Roll-off", "Slow Roll-off"};
    QTest::newRow("cbAddr") << QStringList{"00", "01", "10", "11"} << "Address:";
    QTest::newRow("cbDACMasterSlave") << masters + QStringList{"Master (192fs)", "Master (128fs)"}
                                      << "DAC Master/Slave";
    QTest::newRow("cbDACFMT") << formats + QStringList{"24bit High speed IIS TDM", "24bit High speed Left Justified TDM"}
                              << "DAC Serial Data Format";
    QTest::newRow("cbADCMasterSlave") << masters << "ADC Master/Slave";
    QTest::newRow("cbADCFMT") << formats << "ADC Serial Data Format";
    QTest::newRow("cbDACSAM") << QStringList{"Auto", "Single Rate", "Dual Rate", "Quad Rate"} << "DAC Sampling mode";
    QTest::newRow("cbADCSAM") << QStringList{"Auto", "Single Rate", "Dual Rate"} << "ADC Sampling mode";
    QTest::newRow("cbDEMP") << QStringList{"Disable", "48kHz", "44.1kHz", "32kHz"} << "DAC De-emphasis";
    QTest::newRow("cbFLT12") << rolloff << "DAC 1/2";
    QTest::newRow("cbFLT34") << rolloff << "DAC 3/4";
    QTest::newRow("cbFLT56") << rolloff << "DAC 5/6";
    QTest::newRow("cbFLT78") << rolloff << "DAC 7/8";
    QTest::newRow("cbZeroFunc") << QStringList{"Detect DAC1-8 with AND logic", "Detect DAC1-8 with OR logic",
                                               "Detect DAC1-6 with AND logic", "Detect DAC1-6 with OR logic",
                                               "Detect DAC7-8 with AND logic", "Detect DAC7-8 with OR logic"}
                                << "Zero flag pin function";
    QTest::newRow("cbZeroPole") << QStringList{"High for Zero detect", "Low for Zero detect"} << "Zero flag polarity";
    QTest::newRow("cbOvfPole") << QStringList{"High for overflow detect", "Low for overflow detect"}
                               << "Overflow flag polarity";
}

void TestForms::comboItems()
{
    QFETCH(QStringList, items);
    QFETCH(QString, label);
    Forms f;
    auto *combo = f.find<QComboBox>(QTest::currentDataTag());
    QVERIFY(combo);
    QStringList shown;
    for (int i = 0; i < combo->count(); ++i)
        shown << combo->itemText(i);
    QCOMPARE(shown, items);
    QCOMPARE(combo->currentIndex(), 0);
    QVERIFY(!combo->isEditable());
    if (combo->objectName() == "cbDACFMT")
        QCOMPARE(combo->maxVisibleItems(), 10);

    QLabel *l = labelIn(combo->parentWidget(), label);
    QVERIFY2(l, "no label with this text beside the combo box");
    QVERIFY(l->geometry().right() < combo->geometry().left());
    QVERIFY(sameRow(l->geometry(), combo->geometry()));
}

void TestForms::radioGroups_data()
{
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("checked");
    const QStringList mode = {"Independent control", "Offset + Master"};
    const QStringList speed = {"N*2048/fs", "N*4096/fs"};
    QTest::newRow("rgInterface") << QStringList{"IIC", "SPI"} << 1 << 1;
    QTest::newRow("rgDACPowSav") << QStringList{"Enable", "Disable"} << 2 << 0;
    QTest::newRow("rgDACAttMode") << mode << 2 << 0;
    QTest::newRow("rgDACAttSpeed") << speed << 2 << 0;
    QTest::newRow("rgADCAttMode") << mode << 2 << 0;
    QTest::newRow("rgADCAttSpeed") << speed << 2 << 0;
    QTest::newRow("selDout") << QStringList{"DOUT1 (ADC1, ADC2)", "DOUT2 (ADC3, ADC4)", "DOUT3 (ADC5, ADC6)"} << 1
                             << 0;
}

void TestForms::radioGroups()
{
    QFETCH(QStringList, items);
    QFETCH(int, columns);
    QFETCH(int, checked);
    Forms f;
    auto *group = f.find<QGroupBox>(QTest::currentDataTag());
    QVERIFY(group);
    const QList<QRadioButton *> radios = group->findChildren<QRadioButton *>();
    QCOMPARE(radios.size(), items.size());
    const int perColumn = (int(items.size()) + columns - 1) / columns;
    QList<QRect> at;
    for (int i = 0; i < items.size(); ++i) {
        auto *radio = group->findChild<QRadioButton *>(QStringLiteral("%1_%2").arg(group->objectName()).arg(i),
                                                       Qt::FindDirectChildrenOnly);
        QVERIFY2(radio, qPrintable(QString::number(i)));
        QCOMPARE(radio->text(), items[i]);
        QCOMPARE(radio->isChecked(), i == checked);
        QVERIFY(radio->autoExclusive());
        at << radio->geometry();
    }
    // Items run down each column, then on to the next column.
    for (int i = 1; i < items.size(); ++i) {
        if (i % perColumn == 0) {
            QVERIFY(at[i].left() > at[i - perColumn].right());
            QCOMPARE(at[i].top(), at[0].top());
        } else {
            QCOMPARE(at[i].left(), at[i - 1].left());
            QVERIFY(at[i].top() > at[i - 1].bottom());
        }
    }
}

void TestForms::initialChecks()
{
    Forms f;
    for (QCheckBox *box : f.window.findChildren<QCheckBox *>())
        QVERIFY2(box->isChecked() == box->objectName().startsWith("cbDIN"), qPrintable(box->objectName()));
}

void TestForms::attenuatorRows_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("mute");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("position");
    QTest::addColumn<bool>("enabled");
    for (int i = 0; i <= 8; ++i)
        QTest::newRow(qPrintable(QString("tkDAC%1").arg(i)))
            << QString("edDAC%1").arg(i) << (i ? QString("cDAC%1").arg(i) : QString("sbDACMute"))
            << (i ? QString("DAC%1").arg(i) : QString("Master")) << 255 << (i > 0);
    for (int i = 0; i <= 6; ++i)
        QTest::newRow(qPrintable(QString("tkADC%1").arg(i)))
            << QString("edADC%1").arg(i) << (i ? QString("cADC%1").arg(i) : QString("sbADCMute"))
            << (i ? QString("ADC%1").arg(i) : QString("Master")) << 215 << (i > 0);
}

void TestForms::attenuatorRows()
{
    QFETCH(QString, edit);
    QFETCH(QString, mute);
    QFETCH(QString, caption);
    QFETCH(int, position);
    QFETCH(bool, enabled);
    Forms f;
    auto *track = f.find<QSlider>(QTest::currentDataTag());
    auto *ed = f.find<QLineEdit>(edit);
    auto *m = f.find<QAbstractButton>(mute);
    QVERIFY(track && ed && m);
    QCOMPARE(track->orientation(), Qt::Horizontal);
    QCOMPARE(track->minimum(), 0);
    QCOMPARE(track->maximum(), 255);
    QCOMPARE(track->value(), position);
    QCOMPARE(track->tickPosition(), QSlider::TicksAbove);
    QCOMPARE(track->tickInterval(), 8);
    QVERIFY(!track->invertedAppearance());
    QCOMPARE(ed->text(), QStringLiteral("0.0"));
    QCOMPARE(track->isEnabled(), enabled);
    QCOMPARE(ed->isEnabled(), enabled);
    QCOMPARE(m->isEnabled(), enabled);
    QCOMPARE(m->text(), QStringLiteral("Mute"));
    if (auto *button = qobject_cast<QToolButton *>(m)) {
        QVERIFY(button->autoRaise());
        QVERIFY(!button->isCheckable());
    }

    // Left to right in one row: caption, track bar, edit, "dB", Mute.
    QWidget *page = track->parentWidget();
    QLabel *label = labelIn(page, caption);
    QLabel *unit = nullptr;
    for (QLabel *l : page->findChildren<QLabel *>())
        if (l->text() == "dB" && sameRow(l->geometry(), ed->geometry()))
            unit = l;
    QVERIFY(label && unit);
    const QList<QWidget *> row = {label, track, ed, unit, m};
    for (int i = 1; i < row.size(); ++i) {
        QVERIFY2(row[i - 1]->geometry().right() < row[i]->geometry().left(), qPrintable(row[i]->objectName()));
        QVERIFY(sameRow(row[i - 1]->geometry(), row[i]->geometry()));
    }
}

void TestForms::lamps_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("clear");
    QTest::addColumn<QString>("read");
    QTest::newRow("zero") << "ZERO" << "DAC" << 8 << "btnZeroClr" << "btnZeroRead";
    QTest::newRow("overflow") << "OVF" << "ADC" << 6 << "btnOVFClr" << "btnOVFRead";
}

void TestForms::lamps()
{
    QFETCH(QString, prefix);
    QFETCH(QString, caption);
    QFETCH(int, count);
    QFETCH(QString, clear);
    QFETCH(QString, read);
    Forms f;
    QRect previous;
    for (int i = 1; i <= count; ++i) {
        auto *lamp = f.find<QLabel>(prefix + QString::number(i));
        QVERIFY(lamp);
        QCOMPARE(lamp->size(), QSize(16, 16));
        QLabel *below = labelIn(lamp->parentWidget(), caption + QString::number(i));
        QVERIFY(below);
        QVERIFY(below->geometry().top() > lamp->geometry().bottom());
        QVERIFY(qAbs(below->geometry().center().x() - lamp->geometry().center().x()) <= 1);
        if (i > 1) {
            QCOMPARE(lamp->y(), previous.y());
            QVERIFY(lamp->x() > previous.right());
        }
        previous = lamp->geometry();
    }
    QCOMPARE(f.find(prefix + QString::number(count + 1)), nullptr);
    // The Clear and Read buttons sit after the last lamp, in the lamps' group.
    for (const QString &name : {clear, read}) {
        QWidget *b = f.find(name);
        QCOMPARE(b->parentWidget(), f.find(prefix + "1")->parentWidget());
        QVERIFY(b->x() > previous.right());
    }
}

void TestForms::notes_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("note");
    QTest::addColumn<bool>("atFoot");
    QTest::newRow("GroupBox1") << "GroupBox1" << "No Check: Normal phase" << true;
    QTest::newRow("GroupBox7") << "GroupBox7" << "No Check: Normal phase" << true;
    QTest::newRow("GroupBox8") << "GroupBox8" << "No Check: Differential input" << true;
    QTest::newRow("DAC_ALC") << "DAC_ALC" << "with or without power save" << false;
}

void TestForms::notes()
{
    QFETCH(QString, group);
    QFETCH(QString, note);
    QFETCH(bool, atFoot);
    Forms f;
    QWidget *g = f.find(group);
    QLabel *l = labelIn(g, note);
    QVERIFY(l);
    QCOMPARE(l->font().pointSize(), 7);
    for (QWidget *other : g->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (other == l)
            continue;
        if (atFoot)
            QVERIFY(other->geometry().bottom() < l->geometry().top());
        else
            QVERIFY(other->geometry().top() > l->geometry().bottom());
    }
}

void TestForms::nothingClippedOrOverlapping()
{
    Forms f;
    const QString family = QFontInfo(f.window.font()).family();
    if (family != "Arial" && family != "Liberation Sans")
        QSKIP(qPrintable("the layout is measured for Arial metrics; this machine has " + family));
    f.show();

    QStringList problems;
    auto ours = [](const QWidget *w) {
        return !w->objectName().isEmpty() && !w->objectName().startsWith("qt_") && w->isVisibleTo(w->window());
    };
    auto check = [&problems, &ours](QWidget *w) {
        if (!ours(w))
            return;
        QWidget *parent = w->parentWidget();
        const QRect area = qobject_cast<QGroupBox *>(parent) ? parent->contentsRect() : parent->rect();
        if (!area.contains(w->geometry()))
            problems << w->objectName() + " runs past " + parent->objectName();

        QSize needed;
        if (auto *l = qobject_cast<QLabel *>(w); l && !l->text().isEmpty())
            needed = l->sizeHint();
        else if (auto *b = qobject_cast<QPushButton *>(w))
            // The style's minimum width for push buttons is not a need of the text.
            needed = QSize(b->fontMetrics().horizontalAdvance(b->text()) + 12, b->sizeHint().height());
        else if (auto *b = qobject_cast<QAbstractButton *>(w))
            needed = b->sizeHint();
        else if (auto *c = qobject_cast<QComboBox *>(w))
            needed = c->sizeHint();
        else if (auto *e = qobject_cast<QLineEdit *>(w))
            // A dB edit must show the longest dB text; the others their initial text.
            needed = QSize(e->fontMetrics().horizontalAdvance(e->objectName().startsWith("ed") ? "-127.5" : e->text())
                               + 8,
                           e->sizeHint().height());
        else if (auto *g = qobject_cast<QGroupBox *>(w))
            needed = QSize(g->fontMetrics().horizontalAdvance(g->title()) + 8, 0);
        if (needed.isValid() && (needed.width() > w->width() || needed.height() > w->height()))
            problems << QStringLiteral("%1 is %2x%3, needs %4x%5")
                            .arg(w->objectName())
                            .arg(w->width()).arg(w->height())
                            .arg(needed.width()).arg(needed.height());

        for (QWidget *s : parent->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (s == w || !ours(s) || s->objectName() < w->objectName())
                continue;
            const QSet<QString> pair = {w->objectName(), s->objectName()};
            // The connection picture lies on its bevel on purpose; the logo may reach into
            // the empty band above the history group's frame.
            if (pair == QSet<QString>{"Bevel2", "imgConnection"} || pair == QSet<QString>{"Image2", "GroupBox23"})
                continue;
            if (s->geometry().intersects(w->geometry()))
                problems << w->objectName() + " overlaps " + s->objectName();
        }
    };

    for (QWidget *w : f.ui.centralwidget->findChildren<QWidget *>()) {
        if (!f.ui.MainTab->isAncestorOf(w))
            check(w);
    }
    for (int i = 0; i < f.ui.MainTab->count(); ++i) {
        f.ui.MainTab->setCurrentIndex(i);
        QWidget *page = f.ui.MainTab->widget(i);
        QTRY_VERIFY(page->isVisible());
        QVERIFY(page->width() >= 440 && page->height() >= 300);
        for (QWidget *w : page->findChildren<QWidget *>())
            check(w);
    }
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
}

void TestForms::tabsWrapIntoFullRows()
{
    Forms f;
    f.show();
    MultiRowTabBar *bar = f.bar;
    QCOMPARE(f.ui.MainTab->tabBar(), bar);
    QCOMPARE(bar->count(), pageCaptions.size());
    for (int i = 0; i < bar->count(); ++i)
        QCOMPARE(bar->tabText(i), pageCaptions[i]);

    // The captions do not fit one row of 458 pixels.
    QVERIFY(bar->rowCount() > 1);
    QCOMPARE(bar->width(), f.ui.MainTab->width());
    QSet<int> tops;
    for (int i = 0; i < bar->count(); ++i) {
        const QRect r = bar->rowTabRect(i);
        QVERIFY(bar->rect().contains(r));
        QVERIFY(r.width() >= QFontMetrics(bar->font()).horizontalAdvance(bar->tabText(i)));
        for (int j = 0; j < i; ++j)
            QVERIFY2(!r.intersects(bar->rowTabRect(j)), qPrintable(QString("%1 and %2").arg(i).arg(j)));
        tops << r.top();
    }
    QCOMPARE(tops.size(), bar->rowCount());
    // Every row runs from edge to edge: some tab starts at 0 and some ends at the right.
    for (int top : tops) {
        bool left = false, right = false;
        for (int i = 0; i < bar->count(); ++i) {
            const QRect r = bar->rowTabRect(i);
            left |= r.top() == top && r.left() == 0;
            right |= r.top() == top && r.right() == bar->width() - 1;
        }
        QVERIFY(left && right);
    }
    // No scroll arrows, and the pages start under all the rows.
    for (QToolButton *arrow : bar->findChildren<QToolButton *>())
        QVERIFY(!arrow->isVisible());
    QCOMPARE(bar->height(), bar->sizeHint().height());
    QVERIFY(f.ui.MainTab->currentWidget()->mapTo(f.ui.MainTab, QPoint(0, 0)).y() >= bar->geometry().bottom());
}

void TestForms::clickingATabSelectsItsPage_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    for (int to = 0; to < 8; ++to)
        QTest::newRow(qPrintable(QString("0 to %1").arg(to))) << 0 << to;
    QTest::newRow("7 to 0") << 7 << 0;
    QTest::newRow("5 to 2") << 5 << 2;
}

void TestForms::clickingATabSelectsItsPage()
{
    QFETCH(int, from);
    QFETCH(int, to);
    Forms f;
    f.show();
    f.ui.MainTab->setCurrentIndex(from);
    QSignalSpy changed(f.ui.MainTab, &QTabWidget::currentChanged);
    QTest::mouseClick(f.bar, Qt::LeftButton, {}, f.bar->rowTabRect(to).center());
    QCOMPARE(f.ui.MainTab->currentIndex(), to);
    QCOMPARE(f.ui.MainTab->currentWidget()->objectName(), pageNames[to]);
    QVERIFY(f.ui.MainTab->currentWidget()->isVisible());
    QCOMPARE(changed.size(), from == to ? 0 : 1);
    // The current tab's row moves next to the pages.
    QCOMPARE(f.bar->rowTabRect(to).bottom(), f.bar->height() - 1);
    QCOMPARE(f.bar->rowTabAt(f.bar->rowTabRect(to).center()), to);
}

void TestForms::disabledTabIgnoresClicks()
{
    Forms f;
    f.show();
    f.ui.MainTab->setTabEnabled(3, false);
    QTest::mouseClick(f.bar, Qt::LeftButton, {}, f.bar->rowTabRect(3).center());
    QCOMPARE(f.ui.MainTab->currentIndex(), 0);
}

void TestForms::keyboardFocusAndArrows()
{
    Forms f;
    f.show();
    f.window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f.window));
    f.ui.RDA_reg->setFocus();
    QTRY_VERIFY(f.ui.RDA_reg->hasFocus());
    f.ui.MainTab->setFocus();
    QTRY_VERIFY(f.ui.MainTab->hasFocus());
    QCOMPARE(QApplication::focusWidget(), f.bar);
    QTest::keyClick(f.bar, Qt::Key_Right);
    QCOMPARE(f.ui.MainTab->currentIndex(), 1);
    QTest::keyClick(f.bar, Qt::Key_Right);
    QCOMPARE(f.ui.MainTab->currentIndex(), 2);
    QCOMPARE(f.ui.MainTab->currentWidget()->objectName(), pageNames[2]);
    QTest::keyClick(f.bar, Qt::Key_Left);
    QCOMPARE(f.ui.MainTab->currentIndex(), 1);
}

void TestForms::tabToolTipsFollowRows()
{
    Forms f;
    f.show();
    f.ui.MainTab->setTabToolTip(6, QStringLiteral("flags"));
    auto askAt = [&f](int index) {
        const QPoint pos = f.bar->rowTabRect(index).center();
        QHelpEvent help(QEvent::ToolTip, pos, f.bar->mapToGlobal(pos));
        QApplication::sendEvent(f.bar, &help);
    };
    askAt(6);
    QTRY_COMPARE(QToolTip::text(), QStringLiteral("flags"));
    askAt(5);
    QTRY_VERIFY(QToolTip::text().isEmpty());
}

void TestForms::installKeepsTabsAndPage()
{
    QTabWidget tabs;
    tabs.resize(300, 200);
    QList<QWidget *> pages;
    for (int i = 0; i < 5; ++i) {
        pages << new QWidget;
        tabs.addTab(pages.last(), QStringLiteral("Page number %1").arg(i));
    }
    tabs.setTabToolTip(1, QStringLiteral("second"));
    tabs.setTabEnabled(2, false);
    tabs.setCurrentIndex(3);
    QSignalSpy changed(&tabs, &QTabWidget::currentChanged);

    MultiRowTabBar *bar = MultiRowTabBar::install(&tabs);
    QCOMPARE(tabs.tabBar(), bar);
    QCOMPARE(MultiRowTabBar::install(&tabs), bar);
    QCOMPARE(changed.size(), 0);
    QCOMPARE(tabs.currentIndex(), 3);
    QCOMPARE(tabs.currentWidget(), pages[3]);
    QCOMPARE(tabs.count(), 5);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(tabs.widget(i), pages[i]);
        QCOMPARE(tabs.tabText(i), QStringLiteral("Page number %1").arg(i));
    }
    QCOMPARE(tabs.tabToolTip(1), QStringLiteral("second"));
    QVERIFY(!tabs.isTabEnabled(2));

    // The tab widget still drives the bar.
    tabs.setCurrentIndex(4);
    QCOMPARE(bar->currentIndex(), 4);
    tabs.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tabs));
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->rowTabRect(0).center());
    QCOMPARE(tabs.currentWidget(), pages[0]);
}

void TestForms::rowsFollowWidth()
{
    QTabWidget tabs;
    for (const QString &caption : pageCaptions)
        tabs.addTab(new QWidget, caption);
    MultiRowTabBar *bar = MultiRowTabBar::install(&tabs);
    tabs.resize(2000, 300);
    tabs.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tabs));
    QTRY_COMPARE(bar->rowCount(), 1);
    const int oneRow = bar->height();
    // One row is not stretched: it keeps the tabs' own widths.
    QVERIFY(bar->rowTabRect(7).right() < bar->width() - 1);

    tabs.resize(458, 300);
    QTRY_VERIFY(bar->rowCount() > 1);
    QTRY_COMPARE(bar->height(), oneRow * bar->rowCount());
    QVERIFY(tabs.currentWidget()->mapTo(&tabs, QPoint(0, 0)).y() >= bar->geometry().bottom());

    // Shorter captions set on the bar itself need fewer rows at the same width.
    for (int i = 0; i < bar->count(); ++i)
        bar->setTabText(i, QString::number(i));
    QTRY_COMPARE(bar->rowCount(), 1);
    QTRY_COMPARE(bar->height(), oneRow);
    for (int i = 0; i < bar->count(); ++i)
        bar->setTabText(i, pageCaptions[i]);
    QTRY_VERIFY(bar->rowCount() > 1);

    tabs.resize(2000, 300);
    QTRY_COMPARE(bar->height(), oneRow);
}

QTEST_MAIN(TestForms)
#include "tst_forms.moc"
