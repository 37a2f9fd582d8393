// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Small helpers the window tests share: the library calls as the simulator logs
// them, what the main window shows, and a user's clicks and picks.
#include "fixture.h"

#include "pictures.h"
#include "registers.h"
#include "regview.h"

#include <QAbstractButton>
#include <QByteArray>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QString>
#include <QStringList>
#include <QTabWidget>
#include <QTest>

#include <array>

// Two upper-case hex digits: 0x0A -> "0A".
inline QString hex2(int v)
{
    return QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')).toUpper();
}

// One register write as the simulator logs it; result is the code the library returned.
inline QString regLine(int reg, int value, const QString &result = QStringLiteral("0"))
{
    return QStringLiteral("_writeData(channel=0, reg=0x%1, value=0x%2) = %3").arg(hex2(reg), hex2(value), result);
}

// One pin write as the simulator logs it.
inline QString pinLine(int pin, int level, const QString &result = QStringLiteral("0"))
{
    return QStringLiteral("_writeData(channel=7, pin=%1, value=%2) = %3").arg(pin).arg(level).arg(result);
}

// The library's opening call as the simulator logs it.
inline QString initLine(int port, int interfaceCode, int address, int result)
{
    return QStringLiteral("_init(port=%1, interface=%2, address=0x%3, word56=3) = %4")
        .arg(port)
        .arg(interfaceCode)
        .arg(hex2(address))
        .arg(result);
}

// One line of the register setting history: "0x46, 0x0A".
inline QString historyLine(int reg, int value)
{
    return QStringLiteral("0x%1, 0x%2").arg(hex2(reg), hex2(value));
}

// The register setting history, a line an entry; none when it is empty.
inline QStringList historyOf(const AppFixture &fx)
{
    const QString text = fx.find<QPlainTextEdit>(QStringLiteral("Memo1"))->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

inline QString statusText(const AppFixture &fx)
{
    return fx.find<QLabel>(QStringLiteral("StatusText"))->text();
}

// The register map window's rows as it shows them.
inline std::array<int, evm::RegisterCount> mapRows()
{
    std::array<int, evm::RegisterCount> rows{};
    for (int i = 0; i < evm::RegisterCount; ++i)
        rows[i] = RegViewForm->shownValue(i);
    return rows;
}

// The lamps prefix1..prefixN as the pictures they show: '0' grey, '1' red, '2' green, '?' anything else.
inline QString lamps(const AppFixture &fx, const char *prefix, int count)
{
    QString out;
    for (int i = 1; i <= count; ++i) {
        const QImage shown = fx.find<QLabel>(QStringLiteral("%1%2").arg(QLatin1String(prefix)).arg(i))->pixmap().toImage();
        QChar c = QLatin1Char('?');
        for (int picture = 0; picture < 3; ++picture)
            if (shown == pictures::lamp(picture).toImage())
                c = QLatin1Char(char('0' + picture));
        out += c;
    }
    return out;
}

// The whole file; "<unreadable>" when it cannot be opened, so that a missing file never reads as an empty one.
inline QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return f.readAll();
}

// Brings the page that holds w to the front, as a user would before touching it.
inline void showPageOf(const AppFixture &fx, QWidget *w)
{
    auto *tabs = fx.find<QTabWidget>(QStringLiteral("MainTab"));
    for (int i = 0; i < tabs->count(); ++i)
        if (tabs->widget(i)->isAncestorOf(w))
            tabs->setCurrentIndex(i);
}

// A click on a check box's or radio's indicator, where it certainly lands on the button.
inline void clickIndicator(const AppFixture &fx, QAbstractButton *button)
{
    showPageOf(fx, button);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

inline void clickIndicator(const AppFixture &fx, const QString &name)
{
    auto *button = fx.find<QAbstractButton>(name);
    QVERIFY2(button, qPrintable(name));
    clickIndicator(fx, button);
}

// A click in the middle of a push button.
inline void clickPush(const AppFixture &fx, const char *name)
{
    auto *button = fx.find<QPushButton>(QLatin1String(name));
    QVERIFY2(button, name);
    showPageOf(fx, button);
    QTest::mouseClick(button, Qt::LeftButton);
}

// A user's pick: the combo box changes its item and reports it as activated.
inline void pick(const AppFixture &fx, QComboBox *combo, int index)
{
    showPageOf(fx, combo);
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

inline void pick(const AppFixture &fx, const char *name, int index)
{
    pick(fx, fx.find<QComboBox>(QLatin1String(name)), index);
}
