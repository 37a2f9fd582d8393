// SPDX-License-Identifier: GPL-3.0-or-later
// The attenuators through their real track bars and dB edits, and the two
// master mutes, read back from the simulated board's call log and the history.
#include "fixture.h"
#include "uitest.h"

#include "main.h"
#include "radiogroup.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <clocale>
#include <optional>

namespace {

// One attenuator row by its name in the form: "DAC0" (master) .. "DAC8", "ADC0" .. "ADC6".
struct Attenuator {
    QSlider *track;
    QLineEdit *edit;
    int reg;
    bool dac;
};

Attenuator attenuator(const AppFixture &fx, const QString &name)
{
    const bool dac = name.startsWith(QLatin1String("DAC"));
    const int n = name.mid(3).toInt();
    return {fx.find<QSlider>(QStringLiteral("tk") + name), fx.find<QLineEdit>(QStringLiteral("ed") + name),
            dac ? 0x47 + n : 0x58 + n, dac};
}

// The master rows can only be used in "Offset + Master" mode.
void enableMasterIfNeeded(const AppFixture &fx, const QString &name)
{
    if (name.endsWith(QLatin1Char('0')))
        clickIndicator(fx, fx.find<QRadioButton>(QStringLiteral("rg%1AttMode_1").arg(name.left(3))));
}

// Replaces the edit's text by typing (or pasting), then releases Enter.
void typeAndEnter(const AppFixture &fx, QLineEdit *edit, const QString &text)
{
    showPageOf(fx, edit);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii)
        QTest::keyClicks(edit, text);
    else
        edit->insert(text); // pasted: the test keyboard only types ASCII
    QCOMPARE(edit->text(), text);
    QTest::keyClick(edit, Qt::Key_Return);
}

// A click queued like one the window system delivers, to be handled only when messages are processed.
void postClick(QWidget *w)
{
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    const QPointF global = w->mapToGlobal(at);
    QCoreApplication::postEvent(w, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, {}));
    QCoreApplication::postEvent(w, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, {}));
}

} // namespace

class TestAttenuation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void edgeCases_data();
    void edgeCases();
    void trackBarByKeyboard();
    void otherKeysChangeNothing_data();
    void otherKeysChangeNothing();
    void onlyTheReleaseOfEnterCounts();
    void enterNeverReachesTheEdit();
    void notANumberChangesNothing_data();
    void notANumberChangesNothing();
    void guardFlagStopsBothHandlers();
    void failingWriteKeepsNewSettingAndGuard();
    void withoutBoardTrackAndEditStillMove();

    void masterMute_data();
    void masterMute();
    void secondClickDuringPauseRunsNestedMute_data();
    void secondClickDuringPauseRunsNestedMute();

private:
    std::optional<AppFixture> fx;
};

void TestAttenuation::initTestCase()
{
    // A comma-decimal default locale must change neither the dB text nor what the edits accept.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    QCOMPARE(QLocale().decimalPoint(), QStringLiteral(","));
}

void TestAttenuation::init()
{
    fx.emplace();
    fx->create_and_show();
    QVERIFY(fx->form->boardPort() != 0);
    fx->sim.clearLog();
    fx->seam.clear();
}

void TestAttenuation::cleanup()
{
    fx->destroy();
    fx.reset();
}

void TestAttenuation::edgeCases_data()
{
    QTest::addColumn<QString>("row");
    QTest::addColumn<int>("start");
    QTest::addColumn<bool>("typed"); // false: the track bar is moved to input
    QTest::addColumn<QString>("input");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("written"); // -1: no write

    QTest::newRow("DAC moved to 250") << "DAC3" << 255 << false << "250" << 250 << "-2.5" << 0xFA;
    QTest::newRow("ADC moved to 255") << "ADC2" << 215 << false << "255" << 255 << "20.0" << 0xFF;
    QTest::newRow("ADC moved back to 215") << "ADC6" << 100 << false << "215" << 215 << "0.0" << 0xD7;
    QTest::newRow("DAC moved to 0") << "DAC8" << 255 << false << "0" << 0 << "-127.5" << 0x00;
    QTest::newRow("DAC master moved") << "DAC0" << 255 << false << "254" << 254 << "-0.5" << 0xFE;
    QTest::newRow("ADC master moved") << "ADC0" << 215 << false << "216" << 216 << "0.5" << 0xD8;

    QTest::newRow("DAC -200 clamps") << "DAC1" << 255 << true << "-200" << 0 << "-127.5" << 0x00;
    QTest::newRow("ADC 30 clamps") << "ADC1" << 215 << true << "30" << 255 << "20.0" << 0xFF;
    QTest::newRow("DAC 5 clamps") << "DAC2" << 200 << true << "5" << 255 << "0.0" << 0xFF;
    QTest::newRow("DAC 5 at 0 dB") << "DAC2" << 255 << true << "5" << 255 << "5" << -1;
    QTest::newRow("DAC -0.1 at 0 dB") << "DAC4" << 255 << true << "-0.1" << 254 << "-0.5" << 0xFE;
    QTest::newRow("DAC -3.2 to the step below") << "DAC5" << 255 << true << "-3.2" << 248 << "-3.5" << 0xF8;
    QTest::newRow("ADC 10.25 to the step below") << "ADC3" << 215 << true << "10.25" << 235 << "10.0" << 0xEB;
    QTest::newRow("DAC 0.2 at 0 dB") << "DAC6" << 255 << true << "0.2" << 255 << "0.2" << -1;
    QTest::newRow("ADC -0.25") << "ADC1" << 215 << true << "-0.25" << 214 << "-0.5" << 0xD6;
    QTest::newRow("ADC 0.7 on its own step") << "ADC2" << 216 << true << "0.7" << 216 << "0.7" << -1;
    QTest::newRow("ADC bottom") << "ADC4" << 215 << true << "-107.5" << 0 << "-107.5" << 0x00;
    QTest::newRow("ADC below bottom") << "ADC5" << 215 << true << "-120" << 0 << "-107.5" << 0x00;
    QTest::newRow("ADC minus zero") << "ADC5" << 100 << true << "-0" << 215 << "0.0" << 0xD7;
    QTest::newRow("DAC blanks and exponent") << "DAC7" << 255 << true << " -2.5e1 " << 205 << "-25.0" << 0xCD;
    QTest::newRow("DAC master typed") << "DAC0" << 255 << true << "-10" << 235 << "-10.0" << 0xEB;
    QTest::newRow("ADC master typed") << "ADC0" << 215 << true << "-1.5" << 212 << "-1.5" << 0xD4;
}

void TestAttenuation::edgeCases()
{
    QFETCH(QString, row);
    QFETCH(int, start);
    QFETCH(bool, typed);
    QFETCH(QString, input);
    QFETCH(int, position);
    QFETCH(QString, text);
    QFETCH(int, written);

    enableMasterIfNeeded(*fx, row);
    const Attenuator a = attenuator(*fx, row);
    QVERIFY(a.track && a.edit);
    QVERIFY(a.track->isEnabled() && a.edit->isEnabled());
    a.track->setValue(start);
    fx->sim.clearLog();
    const QStringList history = historyOf(*fx);

    if (typed) {
        typeAndEnter(*fx, a.edit, input);
    } else {
        showPageOf(*fx, a.track);
        a.track->setSliderPosition(input.toInt()); // what a drag does, step by step
    }

    QCOMPARE(a.track->value(), position);
    QCOMPARE(a.edit->text(), text);
    if (written < 0) {
        QCOMPARE(fx->sim.log(), QStringList{});
        QCOMPARE(historyOf(*fx), history);
    } else {
        QCOMPARE(fx->sim.log(), QStringList{regLine(a.reg, written)});
        QCOMPARE(historyOf(*fx).mid(history.size()), QStringList{historyLine(a.reg, written)});
    }
    QCOMPARE(int(fx->form->shadow.byte(a.reg)), position);
    QCOMPARE(fx->sim.reg(a.reg), position);
    QCOMPARE(fx->seam.calls.size(), 0);
    QVERIFY(fx->form->sliderEventsEnabled);
}

void TestAttenuation::trackBarByKeyboard()
{
    const Attenuator a = attenuator(*fx, QStringLiteral("DAC1"));
    showPageOf(*fx, a.track);
    QTest::keyClick(a.track, Qt::Key_Left);
    QCOMPARE(a.edit->text(), QStringLiteral("-0.5"));
    QTest::keyClick(a.track, Qt::Key_Home);
    QCOMPARE(a.edit->text(), QStringLiteral("-127.5"));
    QCOMPARE(fx->sim.log(), (QStringList{regLine(0x48, 0xFE), regLine(0x48, 0x00)}));
}

void TestAttenuation::otherKeysChangeNothing_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("Tab") << int(Qt::Key_Tab);
    QTest::newRow("Escape") << int(Qt::Key_Escape);
    QTest::newRow("Space") << int(Qt::Key_Space);
    QTest::newRow("Up") << int(Qt::Key_Up);
    QTest::newRow("Down") << int(Qt::Key_Down);
    QTest::newRow("Right") << int(Qt::Key_Right);
    QTest::newRow("F5") << int(Qt::Key_F5);
    QTest::newRow("0") << int(Qt::Key_0);
    QTest::newRow("M") << int(Qt::Key_M);
}

void TestAttenuation::otherKeysChangeNothing()
{
    QFETCH(int, key);
    const Attenuator a = attenuator(*fx, QStringLiteral("ADC4"));
    showPageOf(*fx, a.edit);
    a.edit->setText(QStringLiteral("-20"));
    QTest::keyClick(a.edit, Qt::Key(key));
    QCOMPARE(a.track->value(), 215);
    QCOMPARE(fx->sim.log(), QStringList{});
    QCOMPARE(int(fx->form->shadow.byte(0x5C)), 215);
    QCOMPARE(fx->seam.calls.size(), 0);
}

void TestAttenuation::onlyTheReleaseOfEnterCounts()
{
    const Attenuator a = attenuator(*fx, QStringLiteral("ADC4"));
    showPageOf(*fx, a.edit);
    a.edit->setText(QStringLiteral("-20"));
    QTest::keyPress(a.edit, Qt::Key_Return);
    QCOMPARE(a.track->value(), 215);
    QCOMPARE(fx->sim.log(), QStringList{});
    QTest::keyRelease(a.edit, Qt::Key_Return);
    QCOMPARE(a.track->value(), 175);
    QCOMPARE(a.edit->text(), QStringLiteral("-20.0"));
    QCOMPARE(fx->sim.log(), QStringList{regLine(0x5C, 175)});

    // The keypad's Enter is Enter too.
    fx->sim.clearLog();
    a.edit->setText(QStringLiteral("-19.5"));
    QTest::keyClick(a.edit, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(fx->sim.log(), QStringList{regLine(0x5C, 176)});
}

void TestAttenuation::enterNeverReachesTheEdit()
{
    const Attenuator a = attenuator(*fx, QStringLiteral("DAC2"));
    showPageOf(*fx, a.edit);
    QSignalSpy returnPressed(a.edit, &QLineEdit::returnPressed);
    a.edit->setText(QStringLiteral("-1"));
    QTest::keyClick(a.edit, Qt::Key_Return);
    QCOMPARE(returnPressed.count(), 0);
    QCOMPARE(a.edit->text(), QStringLiteral("-1.0"));
}

void TestAttenuation::notANumberChangesNothing_data()
{
    QTest::addColumn<QString>("row");
    QTest::addColumn<QString>("text");

    for (const char *row : {"DAC3", "ADC2"}) {
        for (const char *text : {"abc", "", "nan", "NaN", "inf", "-inf", "infinity", "1e999", "-1e999", "1,5",
                                 "-2,5", "0x10", "12abc", "- 5", ".", "e5", "1e", "1.2.3",
                                 "5 dB", "\u2212" "5", "\u00BD"})
            QTest::addRow("%s '%s'", row, text) << row << text;
    }
}

void TestAttenuation::notANumberChangesNothing()
{
    QFETCH(QString, row);
    QFETCH(QString, text);
    const Attenuator a = attenuator(*fx, row);
    a.track->setValue(120);
    fx->sim.clearLog();
    const QStringList history = historyOf(*fx);

    typeAndEnter(*fx, a.edit, text);
    QCOMPARE(a.track->value(), 120);
    QCOMPARE(a.edit->text(), text);
    QCOMPARE(fx->sim.log(), QStringList{});
    QCOMPARE(int(fx->form->shadow.byte(a.reg)), 120);
    QCOMPARE(historyOf(*fx), history);
    const auto errors = fx->seam.of(QStringLiteral("error"));
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.first().text.contains(QLatin1Char('\'') + text + QLatin1Char('\'')), qPrintable(errors.first().text));
    QCOMPARE(fx->seam.calls.size(), 1);
    QVERIFY(fx->form->sliderEventsEnabled);
}

void TestAttenuation::guardFlagStopsBothHandlers()
{
    const Attenuator a = attenuator(*fx, QStringLiteral("DAC4"));
    fx->form->sliderEventsEnabled = false;
    a.track->setValue(10);
    QCOMPARE(a.edit->text(), QStringLiteral("0.0"));
    typeAndEnter(*fx, a.edit, QStringLiteral("-50"));
    QCOMPARE(a.track->value(), 10);
    typeAndEnter(*fx, a.edit, QStringLiteral("abc"));
    QCOMPARE(fx->seam.calls.size(), 0);
    QCOMPARE(fx->sim.log(), QStringList{});
    QCOMPARE(int(fx->form->shadow.byte(0x4B)), 255);
}

void TestAttenuation::failingWriteKeepsNewSettingAndGuard()
{
    const Attenuator a = attenuator(*fx, QStringLiteral("ADC1"));
    fx->sim.setFault(SimApi::Write, 0, 5);
    a.track->setValue(200);
    QCOMPARE(a.edit->text(), QStringLiteral("-7.5"));
    QCOMPARE(int(fx->form->shadow.byte(0x59)), 200);
    QCOMPARE(fx->sim.log(), QStringList{QStringLiteral("_writeData(channel=0, reg=0x59, value=0xC8) = 0x0005")});
    const auto messages = fx->seam.of(QStringLiteral("message"));
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.first().text, QStringLiteral("Communication error: WRERR0005"));
    // The guard is back: the next change runs as usual.
    QVERIFY(fx->form->sliderEventsEnabled);
    fx->sim.setFault(SimApi::Write, 0, 0);
    typeAndEnter(*fx, a.edit, QStringLiteral("1"));
    QCOMPARE(a.track->value(), 217);
    QCOMPARE(fx->sim.reg(0x59), 217);
}

void TestAttenuation::withoutBoardTrackAndEditStillMove()
{
    fx->destroy();
    fx.emplace();
    fx->sim.setPresent(false);
    fx->create_and_show();
    fx->seam.clear();
    const Attenuator a = attenuator(*fx, QStringLiteral("DAC1"));
    typeAndEnter(*fx, a.edit, QStringLiteral("-27.5"));
    QCOMPARE(a.track->value(), 200);
    QCOMPARE(a.edit->text(), QStringLiteral("-27.5"));
    QCOMPARE(int(fx->form->shadow.byte(0x48)), 255);
    QCOMPARE(fx->sim.log(QStringLiteral("_writeData")), QStringList{});
    QCOMPARE(fx->seam.calls.size(), 0);
}

void TestAttenuation::masterMute_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("tickedByHand");
    QTest::addColumn<bool>("suppressedBefore");

    for (const char *page : {"DAC", "ADC"}) {
        QTest::addRow("%s", page) << page << false << false;
        QTest::addRow("%s, boxes ticked by hand", page) << page << true << false;
        QTest::addRow("%s, i/o suppressed and history off before", page) << page << false << true;
    }
}

void TestAttenuation::masterMute()
{
    QFETCH(QString, page);
    QFETCH(bool, tickedByHand);
    QFETCH(bool, suppressedBefore);
    const bool dac = page == QLatin1String("DAC");
    const int channels = dac ? 8 : 6;
    const int reg = dac ? 0x44 : 0x55;
    const int all = dac ? 0xFF : 0x3F;
    TForm1 *f = fx->form;

    QList<QCheckBox *> boxes;
    for (int i = 1; i <= channels; ++i)
        boxes << fx->find<QCheckBox>(QStringLiteral("c%1%2").arg(page).arg(i));
    auto *mute = fx->find<QToolButton>(QStringLiteral("sb%1Mute").arg(page));
    QVERIFY(mute);
    QVERIFY(!mute->isCheckable()); // a push button that never stays down
    clickIndicator(*fx, fx->find<QRadioButton>(QStringLiteral("rg%1AttMode_1").arg(page)));
    QVERIFY(mute->isEnabled());
    if (tickedByHand) {
        for (QCheckBox *box : boxes)
            clickIndicator(*fx, box);
        QCOMPARE(fx->sim.reg(reg), all);
    }
    bool &flag = dac ? f->dacMuteAll : f->adcMuteAll;
    const bool &otherFlag = dac ? f->adcMuteAll : f->dacMuteAll;

    for (const bool muting : {true, false}) {
        fx->sim.clearLog();
        fx->seam.clear();
        const QStringList history = historyOf(*fx);
        if (suppressedBefore) {
            f->ioSuppressed = true;
            f->historyEnabled = false;
        }
        QSignalSpy toggles(boxes.first(), &QCheckBox::toggled);
        showPageOf(*fx, mute);
        QTest::mouseClick(mute, Qt::LeftButton);

        const int value = muting ? all : 0x00;
        for (QCheckBox *box : boxes)
            QCOMPARE(box->isChecked(), muting);
        QCOMPARE(toggles.count(), tickedByHand && muting ? 0 : 1);
        QCOMPARE(fx->sim.log(), QStringList{regLine(reg, value)});
        QCOMPARE(historyOf(*fx).mid(history.size()), QStringList{historyLine(reg, value)});
        QCOMPARE(fx->seam.sleeps(), QList<int>{200});
        QCOMPARE(fx->seam.calls.size(), 1);
        QCOMPARE(int(f->shadow.byte(reg)), value);
        QCOMPARE(fx->sim.reg(reg), value);
        QCOMPARE(flag, muting);
        QVERIFY(!otherFlag);
        QVERIFY(!f->ioSuppressed);
        QVERIFY(f->historyEnabled);
    }
}

void TestAttenuation::secondClickDuringPauseRunsNestedMute_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<bool>("beforePause"); // the second click is queued before the pause, else during it

    for (const char *page : {"DAC", "ADC"}) {
        QTest::addRow("%s, queued before the pause", page) << page << true;
        QTest::addRow("%s, queued during the pause", page) << page << false;
    }
}

void TestAttenuation::secondClickDuringPauseRunsNestedMute()
{
    QFETCH(QString, page);
    QFETCH(bool, beforePause);
    const bool dac = page == QLatin1String("DAC");
    const int reg = dac ? 0x44 : 0x55;
    TForm1 *f = fx->form;
    auto *mute = fx->find<QToolButton>(QStringLiteral("sb%1Mute").arg(page));
    clickIndicator(*fx, fx->find<QRadioButton>(QStringLiteral("rg%1AttMode_1").arg(page)));
    auto *first = fx->find<QCheckBox>(QStringLiteral("c%1").arg(page) + QLatin1Char('1'));
    fx->sim.clearLog();
    fx->seam.clear();
    const QStringList history = historyOf(*fx);

    bool queued = false;
    QList<bool> flagAtSleep;
    if (beforePause) {
        // Queued while the first run ticks its boxes, so it waits for the first processing of messages.
        connect(first, &QCheckBox::toggled, this, [&] {
            if (!queued) {
                queued = true;
                postClick(mute);
            }
        });
    }
    fx->seam.onSleep = [&](int) {
        flagAtSleep << (dac ? f->dacMuteAll : f->adcMuteAll);
        if (!queued) {
            queued = true;
            postClick(mute);
        }
    };
    showPageOf(*fx, mute);
    QTest::mouseClick(mute, Qt::LeftButton);
    disconnect(first, nullptr, this, nullptr);
    fx->seam.onSleep = nullptr;

    // The nested run mutes back and writes; the first run's final write then reads the flag it left.
    QCOMPARE(fx->seam.sleeps(), (QList<int>{200, 200}));
    QCOMPARE(flagAtSleep, beforePause ? (QList<bool>{false, false}) : (QList<bool>{true, false}));
    QCOMPARE(fx->sim.log(), (QStringList{regLine(reg, 0x00), regLine(reg, 0x00)}));
    QCOMPARE(historyOf(*fx).mid(history.size()), (QStringList{historyLine(reg, 0x00), historyLine(reg, 0x00)}));
    QVERIFY(!first->isChecked());
    QCOMPARE(dac ? f->dacMuteAll : f->adcMuteAll, false);
    QVERIFY(!f->ioSuppressed);
    QVERIFY(f->historyEnabled);
}

QTEST_MAIN(TestAttenuation)
#include "tst_attenuation.moc"
