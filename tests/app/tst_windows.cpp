// SPDX-License-Identifier: GPL-3.0-or-later
#include "about.h"
#include "pictures.h"
#include "scriptprogress.h"
#include "splash.h"

#include <QFrame>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

#include <limits>

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *w) { w->installEventFilter(this); }
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

// The label shows its whole text: nothing of it is cut off at the label's edge
// and the label itself lies inside its window.
void verifyFits(const QLabel *label)
{
    const QSize needed = label->sizeHint();
    QVERIFY2(label->width() >= needed.width() && label->height() >= needed.height(),
             qPrintable(QStringLiteral("%1 is %2x%3, its text needs %4x%5")
                            .arg(label->objectName())
                            .arg(label->width()).arg(label->height())
                            .arg(needed.width()).arg(needed.height())));
    const QRect inWindow(label->mapTo(label->window(), QPoint(0, 0)), label->size());
    QVERIFY2(label->window()->rect().contains(inWindow),
             qPrintable(label->objectName() + QStringLiteral(" runs past its window")));
}

bool hasInk(const QImage &image, const QRect &area, const QColor &background)
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (image.pixelColor(x, y) != background)
                return true;
    return false;
}

} // namespace

class TestWindows : public QObject
{
    Q_OBJECT

private slots:
    void versionText_data();
    void versionText();

    void splashLayout();
    void splashSetTextSizesLabel_data();
    void splashSetTextSizesLabel();
    void splashRepaintNowPaintsWithoutEventLoop();
    void splashSurvivesCloseRequest();

    void progressLayout();
    void progressCloseOnlyHides();

    void aboutLayout_data();
    void aboutLayout();
    void aboutWindow();
    void aboutOkAccepts_data();
    void aboutOkAccepts();
    void aboutLabelsFollowNewTexts();
    void aboutCentresOverMainWindow();

    void pictureSizes_data();
    void pictureSizes();
    void picturesOutOfRangeAreEmpty();
    void picturesAreCached();
    void lampColours_data();
    void lampColours();
    void connectionPlates_data();
    void connectionPlates();
    void buttonPlateLook_data();
    void buttonPlateLook();
    void titleAndLogoFitTheirPlaces();
};

void TestWindows::versionText_data()
{
    QTest::addColumn<int>("v");
    QTest::addColumn<QString>("text");

    QTest::newRow("no library version") << 0 << "0.0.0.0";
    QTest::newRow("0x1100") << 0x1100 << "1.1.0.0";
    QTest::newRow("0x1234") << 0x1234 << "1.2.3.4";
    QTest::newRow("digit above 9 in decimal") << 0x110A << "1.1.0.10";
    QTest::newRow("0xFFFF") << 0xFFFF << "15.15.15.15";
    QTest::newRow("above 0xFFFF") << 0x12345 << "18.3.4.5";
    QTest::newRow("0x10000") << 0x10000 << "16.0.0.0";
    QTest::newRow("int32 max") << std::numeric_limits<int32_t>::max() << "524287.15.15.15";
    // Truncation toward zero: every remainder of a negative word keeps its sign.
    QTest::newRow("-1") << -1 << "0.0.0.-1";
    QTest::newRow("-0x1234") << -0x1234 << "-1.-2.-3.-4";
    QTest::newRow("int32 min") << std::numeric_limits<int32_t>::min() << "-524288.0.0.0";
}

void TestWindows::versionText()
{
    QFETCH(int, v);
    QFETCH(QString, text);
    QCOMPARE(libraryVersionText(v), text);
}

void TestWindows::splashLayout()
{
    TSplashForm splash;
    QVERIFY(splash.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(splash.windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(splash.size(), QSize(313, 182));
    QVERIFY(splash.autoFillBackground());
    QCOMPARE(splash.palette().color(QPalette::Window), QColor(Qt::white));

    QCOMPARE(splash.Label1->objectName(), QStringLiteral("Label1"));
    QCOMPARE(splash.Label1->pos(), QPoint(24, 64));
    QVERIFY(splash.Label1->text().isEmpty());
    QCOMPARE(splash.Label1->font().pixelSize(), 12);
    QCOMPARE(splash.Label1->palette().color(QPalette::Window), QColor(Qt::white));

    QProgressBar *bar = splash.ProgressBar1;
    QCOMPARE(bar->objectName(), QStringLiteral("ProgressBar1"));
    QCOMPARE(bar->geometry(), QRect(24, 88, 265, 17));
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QVERIFY(!bar->isTextVisible());
    splash.show();
    QVERIFY(QTest::qWaitForWindowExposed(&splash));
    QVERIFY(!bar->isVisible());

    // Centred on the screen.
    const QPoint screenCentre = splash.screen()->availableGeometry().center();
    QVERIFY((splash.geometry().center() - screenCentre).manhattanLength() <= 2);
}

void TestWindows::splashSetTextSizesLabel_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("start-up") << "Loading...";
    QTest::newRow("connecting") << "Initializing...";
    QTest::newRow("resets") << "Reset in progress ...";
}

void TestWindows::splashSetTextSizesLabel()
{
    QFETCH(QString, text);
    TSplashForm splash;
    splash.setText(QStringLiteral("x"));
    splash.setText(text);
    QCOMPARE(splash.Label1->text(), text);
    QCOMPARE(splash.Label1->pos(), QPoint(24, 64));
    verifyFits(splash.Label1);
    // A shorter text shrinks the label again: it sizes to its text, both ways.
    const int wide = splash.Label1->width();
    splash.setText(QStringLiteral("."));
    QVERIFY(splash.Label1->width() < wide);
}

void TestWindows::splashRepaintNowPaintsWithoutEventLoop()
{
    TSplashForm splash;
    splash.show();
    QVERIFY(QTest::qWaitForWindowExposed(&splash));
    PaintCounter window(&splash), label(splash.Label1), bar(splash.ProgressBar1);

    splash.setText(QStringLiteral("Initializing..."));
    splash.ProgressBar1->setRange(0, 30);
    splash.ProgressBar1->setValue(7);
    splash.ProgressBar1->setVisible(true);
    splash.repaintNow();
    // No event was processed between the changes and here.
    QVERIFY(window.count >= 1);
    QVERIFY(label.count >= 1);
    QVERIFY(bar.count >= 1);
}

void TestWindows::splashSurvivesCloseRequest()
{
    auto *splash = new TSplashForm;
    QPointer<TSplashForm> alive(splash);
    splash->show();
    QVERIFY(QTest::qWaitForWindowExposed(splash));

    QVERIFY(!splash->close());
    // The request a window manager sends goes through the platform window.
    splash->windowHandle()->close();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(alive);
    QVERIFY(splash->isVisible());

    // Still usable as the busy window: hidden, shown again, lettered and painted.
    splash->hide();
    splash->show();
    splash->setText(QStringLiteral("Reset in progress ..."));
    splash->ProgressBar1->setVisible(true);
    splash->repaintNow();
    QVERIFY(splash->isVisible());
    const QImage image = splash->grab().toImage();
    QVERIFY(hasInk(image, splash->Label1->geometry(), Qt::white));
    verifyFits(splash->Label1);
    delete splash;
}

void TestWindows::progressLayout()
{
    TscriptProgress progress;
    QCOMPARE(progress.windowTitle(), QStringLiteral("Script progress"));
    QCOMPARE(progress.windowType(), Qt::Dialog);
    const Qt::WindowFlags flags = progress.windowFlags();
    QVERIFY(!(flags & Qt::FramelessWindowHint));
    QVERIFY(flags & Qt::WindowTitleHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QCOMPARE(progress.size(), QSize(313, 182));
    QCOMPARE(progress.minimumSize(), progress.maximumSize());
    QVERIFY(!progress.isModal());

    auto *bevel = progress.findChild<QFrame *>(QStringLiteral("Bevel1"));
    QVERIFY(bevel);
    QCOMPARE(bevel->geometry(), QRect(8, 8, 297, 161));
    QCOMPARE(bevel->frameShadow(), QFrame::Sunken);

    auto *label = progress.findChild<QLabel *>(QStringLiteral("Label1"));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("Executing ..."));
    QCOMPARE(label->pos(), QPoint(40, 56));
    QCOMPARE(label->font().pixelSize(), 12);
    verifyFits(label);

    QCOMPARE(progress.ProgressBar1->geometry(), QRect(40, 88, 233, 17));
    QCOMPARE(progress.ProgressBar1->minimum(), 0);
    QCOMPARE(progress.ProgressBar1->maximum(), 100);
}

void TestWindows::progressCloseOnlyHides()
{
    auto *progress = new TscriptProgress;
    QPointer<TscriptProgress> alive(progress);
    progress->ProgressBar1->setMaximum(12);
    progress->ProgressBar1->setValue(5);
    progress->show();
    QVERIFY(QTest::qWaitForWindowExposed(progress));

    progress->windowHandle()->close();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(alive);
    QVERIFY(progress->isHidden());

    progress->show();
    progress->repaintNow();
    QVERIFY(progress->isVisible());
    QCOMPARE(progress->ProgressBar1->maximum(), 12);
    QCOMPARE(progress->ProgressBar1->value(), 5);
    delete progress;
}

void TestWindows::aboutLayout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("pixels");
    QTest::addColumn<bool>("heavy");

    QTest::newRow("Label1") << "Label1" << QPoint(108, 32) << "CDX5170" << 19 << true;
    QTest::newRow("Label3") << "Label3" << QPoint(40, 70) << " EVM Control software" << 19 << true;
    QTest::newRow("Label2") << "Label2" << QPoint(96, 105) << "Version 1.1.0" << 16 << true;
    QTest::newRow("Label4") << "Label4" << QPoint(96, 140) << "DLL: " << 12 << false;
    QTest::newRow("lDLLver") << "lDLLver" << QPoint(128, 140) << "0.0.0.0" << 12 << false;
    QTest::newRow("Label5") << "Label5" << QPoint(177, 140) << "Port:" << 12 << false;
    QTest::newRow("lPort") << "lPort" << QPoint(208, 140) << "0" << 12 << false;
}

void TestWindows::aboutLayout()
{
    QFETCH(QString, name);
    QFETCH(QPoint, pos);
    QFETCH(QString, text);
    QFETCH(int, pixels);
    QFETCH(bool, heavy);

    TAboutDialog about;
    about.show(); // the labels size to their texts when the box is shown
    auto *label = about.findChild<QLabel *>(name);
    QVERIFY(label);
    QCOMPARE(label->pos(), pos);
    QCOMPARE(label->text(), text);
    QCOMPARE(label->font().pixelSize(), pixels);
    QCOMPARE(label->font().weight() >= QFont::Bold, heavy);
    verifyFits(label);
}

void TestWindows::aboutWindow()
{
    TAboutDialog about;
    QCOMPARE(about.windowTitle(), QStringLiteral("About"));
    QCOMPARE(about.size(), QSize(313, 214));
    QCOMPARE(about.minimumSize(), about.maximumSize());
    QVERIFY(about.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(about.windowFlags() & Qt::WindowTitleHint);
    QCOMPARE(about.lDLLver, about.findChild<QLabel *>(QStringLiteral("lDLLver")));
    QCOMPARE(about.lPort, about.findChild<QLabel *>(QStringLiteral("lPort")));

    auto *bevel = about.findChild<QFrame *>(QStringLiteral("Bevel1"));
    QVERIFY(bevel);
    QCOMPARE(bevel->geometry(), QRect(8, 8, 297, 161));
    QCOMPARE(bevel->frameShadow(), QFrame::Sunken);

    auto *ok = about.findChild<QPushButton *>(QStringLiteral("OKBtn"));
    QVERIFY(ok);
    QCOMPARE(ok->geometry(), QRect(119, 180, 75, 25));
    QCOMPARE(ok->text(), QStringLiteral("OK"));
    QVERIFY(ok->isDefault());
}

void TestWindows::aboutOkAccepts_data()
{
    QTest::addColumn<int>("key"); // 0: a click on OK
    QTest::newRow("click") << 0;
    QTest::newRow("Enter") << int(Qt::Key_Enter);
    QTest::newRow("Return") << int(Qt::Key_Return);
}

void TestWindows::aboutOkAccepts()
{
    QFETCH(int, key);
    TAboutDialog about;
    about.setResult(QDialog::Rejected);
    about.open();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QSignalSpy accepted(&about, &QDialog::accepted);
    if (key)
        QTest::keyClick(&about, Qt::Key(key));
    else
        QTest::mouseClick(about.findChild<QPushButton *>(QStringLiteral("OKBtn")), Qt::LeftButton);
    QCOMPARE(accepted.count(), 1);
    QCOMPARE(about.result(), int(QDialog::Accepted));
    QVERIFY(about.isHidden());
}

void TestWindows::aboutLabelsFollowNewTexts()
{
    TAboutDialog about;
    about.lDLLver->setText(libraryVersionText(std::numeric_limits<int32_t>::max()));
    about.lPort->setText(QStringLiteral("12345"));
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    verifyFits(about.lDLLver);
    verifyFits(about.lPort);
    about.hide();

    // And they shrink back for the next, shorter texts; the texts stay between showings.
    about.lDLLver->setText(QStringLiteral("1.0.0.0"));
    about.lPort->setText(QStringLiteral("1"));
    const int wide = about.lDLLver->width();
    about.show();
    QVERIFY(about.lDLLver->width() < wide);
    verifyFits(about.lDLLver);
    QCOMPARE(about.lDLLver->text(), QStringLiteral("1.0.0.0"));
}

void TestWindows::aboutCentresOverMainWindow()
{
    QMainWindow main;
    main.setGeometry(40, 60, 739, 565);
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));

    // Owned by the main window, and without an owner: centred over it either way.
    for (QWidget *owner : {static_cast<QWidget *>(&main), static_cast<QWidget *>(nullptr)}) {
        TAboutDialog about(owner);
        about.open();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        const QPoint offset = about.frameGeometry().center() - main.frameGeometry().center();
        QVERIFY2(offset.manhattanLength() <= 4,
                 qPrintable(QStringLiteral("off centre by %1,%2").arg(offset.x()).arg(offset.y())));
        about.OKBtnClick();
    }
}

void TestWindows::pictureSizes_data()
{
    QTest::addColumn<QPixmap>("picture");
    QTest::addColumn<QSize>("size");

    QTest::newRow("Read") << pictures::buttonPlate("Read", {53, 24}) << QSize(53, 24);
    QTest::newRow("Write") << pictures::buttonPlate("Write", {53, 24}) << QSize(53, 24);
    QTest::newRow("Save") << pictures::buttonPlate("Save", {79, 24}) << QSize(79, 24);
    QTest::newRow("Clear") << pictures::buttonPlate("Clear", {79, 24}) << QSize(79, 24);
    QTest::newRow("EXIT") << pictures::buttonPlate("EXIT", {111, 24}) << QSize(111, 24);
    QTest::newRow("No EVM") << pictures::connectionPlate(0) << QSize(72, 19);
    QTest::newRow("Connected") << pictures::connectionPlate(1) << QSize(72, 19);
    QTest::newRow("Error") << pictures::connectionPlate(2) << QSize(72, 19);
    QTest::newRow("grey lamp") << pictures::lamp(0) << QSize(16, 16);
    QTest::newRow("red lamp") << pictures::lamp(1) << QSize(16, 16);
    QTest::newRow("green lamp") << pictures::lamp(2) << QSize(16, 16);
}

void TestWindows::pictureSizes()
{
    QFETCH(QPixmap, picture);
    QFETCH(QSize, size);
    QVERIFY(!picture.isNull());
    QCOMPARE(picture.size(), size);
}

void TestWindows::picturesOutOfRangeAreEmpty()
{
    QVERIFY(pictures::connectionPlate(-1).isNull());
    QVERIFY(pictures::connectionPlate(3).isNull());
    QVERIFY(pictures::lamp(-1).isNull());
    QVERIFY(pictures::lamp(3).isNull());
}

void TestWindows::picturesAreCached()
{
    QCOMPARE(pictures::lamp(1).cacheKey(), pictures::lamp(1).cacheKey());
    QCOMPARE(pictures::connectionPlate(0).cacheKey(), pictures::connectionPlate(0).cacheKey());
    QCOMPARE(pictures::titleLettering().cacheKey(), pictures::titleLettering().cacheKey());
    QCOMPARE(pictures::logo().cacheKey(), pictures::logo().cacheKey());
    QCOMPARE(pictures::buttonPlate("Save", {79, 24}).cacheKey(),
             pictures::buttonPlate("Save", {79, 24}).cacheKey());
    // Different captions or sizes are different pictures.
    QVERIFY(pictures::buttonPlate("Save", {79, 24}).cacheKey()
            != pictures::buttonPlate("Save", {53, 24}).cacheKey());
    QVERIFY(pictures::buttonPlate("Save", {79, 24}).cacheKey()
            != pictures::buttonPlate("Clear", {79, 24}).cacheKey());
}

void TestWindows::lampColours_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("hue"); // the channel that dominates, or "grey"
    QTest::newRow("off") << 0 << "grey";
    QTest::newRow("overflow") << 1 << "red";
    QTest::newRow("zero") << 2 << "green";
}

void TestWindows::lampColours()
{
    QFETCH(int, index);
    QFETCH(QString, hue);
    const QImage image = pictures::lamp(index).toImage();
    // The corners are the background that the lamp controls leave out.
    for (const QPoint corner : {QPoint(0, 0), QPoint(15, 0), QPoint(0, 15), QPoint(15, 15)})
        QCOMPARE(image.pixelColor(corner).alpha(), 0);
    // The round lamp itself is opaque.
    const QColor body = image.pixelColor(9, 10);
    QCOMPARE(body.alpha(), 255);
    if (hue == "red") {
        QVERIFY(body.red() > body.green() + 80 && body.red() > body.blue() + 80);
    } else if (hue == "green") {
        QVERIFY(body.green() > body.red() + 80 && body.green() > body.blue() + 80);
    } else {
        QVERIFY(qAbs(body.red() - body.green()) < 16 && qAbs(body.green() - body.blue()) < 16);
        QVERIFY(body.lightness() > 150); // grey-white
    }
}

void TestWindows::connectionPlates_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("hue");
    QTest::newRow("No EVM") << 0 << "red";
    QTest::newRow("Connected") << 1 << "green";
    QTest::newRow("Error") << 2 << "amber";
}

void TestWindows::connectionPlates()
{
    QFETCH(int, index);
    QFETCH(QString, hue);
    const QImage image = pictures::connectionPlate(index).toImage();
    // A pill: the corners stay clear.
    QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
    QCOMPARE(image.pixelColor(71, 18).alpha(), 0);
    // A light face near the rounded end, where no letter is.
    const QColor face = image.pixelColor(4, 9);
    QCOMPARE(face.alpha(), 255);
    QVERIFY(face.lightness() > 150);
    if (hue == "green")
        QVERIFY(face.green() > face.red() + 40);
    else if (hue == "red")
        QVERIFY(face.red() > face.green() + 40);
    else // red and green, without the blue
        QVERIFY(face.red() > face.blue() + 80 && face.green() > face.blue() + 80 && face.red() >= face.green());
    // Black lettering in the middle.
    bool dark = false;
    for (int x = 10; x < 62 && !dark; ++x)
        for (int y = 3; y < 16 && !dark; ++y)
            dark = image.pixelColor(x, y).lightness() < 60;
    QVERIFY(dark);
}

void TestWindows::buttonPlateLook_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QSize>("size");
    QTest::newRow("Read") << "Read" << QSize(53, 24);
    QTest::newRow("Write") << "Write" << QSize(53, 24);
    QTest::newRow("Save") << "Save" << QSize(79, 24);
    QTest::newRow("Clear") << "Clear" << QSize(79, 24);
    QTest::newRow("EXIT") << "EXIT" << QSize(111, 24);
    QTest::newRow("long caption in a small plate") << "Reconnect board" << QSize(53, 24);
}

void TestWindows::buttonPlateLook()
{
    QFETCH(QString, caption);
    QFETCH(QSize, size);
    const QImage image = pictures::buttonPlate(caption, size).toImage();
    const int w = size.width(), h = size.height();

    // Raised: light top-left edge, dark bottom-right edge, grey face; all opaque.
    QVERIFY(image.pixelColor(0, 0).lightness() > 200);
    QVERIFY(image.pixelColor(w - 1, h - 1).lightness() < 80);
    QVERIFY(image.pixelColor(3, h / 2).lightness() > image.pixelColor(w - 1, h / 2).lightness());
    const QColor face = image.pixelColor(3, 3);
    QVERIFY(qAbs(face.red() - face.blue()) < 24 && face.lightness() > 90 && face.lightness() < 200);

    // The white caption is there, centred, and clear of the bevel on every side.
    QRect ink;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (image.pixelColor(x, y).lightness() > 235 && x > 1 && y > 1)
                ink |= QRect(x, y, 1, 1);
    QVERIFY(ink.isValid());
    QVERIFY2(ink.left() >= 3 && ink.right() <= w - 4 && ink.top() >= 2 && ink.bottom() <= h - 3,
             qPrintable(QStringLiteral("caption ink %1,%2 %3x%4").arg(ink.x()).arg(ink.y())
                            .arg(ink.width()).arg(ink.height())));
    QVERIFY(qAbs((ink.left() + ink.right()) / 2 - w / 2) <= 2);
}

void TestWindows::titleAndLogoFitTheirPlaces()
{
    // Title at 24,8 and logo at 552,7 over the page control at y 37 in a 739 wide window.
    const QPixmap title = pictures::titleLettering();
    const QPixmap logo = pictures::logo();
    QVERIFY(!title.isNull() && !logo.isNull());
    QVERIFY(8 + title.height() <= 37);
    QVERIFY(7 + logo.height() <= 37);
    QVERIFY(24 + title.width() <= 552);
    QVERIFY(552 + logo.width() <= 739);

    // Green lettering on a clear background.
    const QImage image = title.toImage();
    QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
    int green = 0, other = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() < 255)
                continue;
            (c.green() > c.red() && c.green() > c.blue() ? green : other)++;
        }
    QVERIFY(green > 200);
    QVERIFY(other < green / 10);
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
