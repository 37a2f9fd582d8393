// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
#include <QFont>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QStringList>

// The fonts the windows were designed with, each followed by the families that stand in for
// it where it is not installed (sizes in pixels, as designed), and where the small windows open.
namespace designfonts {

// "ＭＳ Ｐゴシック" is the Japanese name of MS PGothic; IPA P Gothic is the free
// proportional Gothic with the closest metrics.
inline QFont base()
{
    QFont f;
    f.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                   QStringLiteral("IPAPGothic"), QStringLiteral("DejaVu Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(12);
    return f;
}

// Arial Black; without it the heaviest Arial-metric face. Both stand-ins are
// narrower than Arial Black, so text laid out for it never clips.
inline QFont arialBlack(int pixels)
{
    QFont f;
    f.setFamilies({QStringLiteral("Arial Black"), QStringLiteral("Liberation Sans"),
                   QStringLiteral("DejaVu Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setWeight(QFont::Black);
    f.setPixelSize(pixels);
    return f;
}

inline QFont arial(int pixels, bool bold)
{
    QFont f;
    f.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                   QStringLiteral("DejaVu Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setBold(bold);
    f.setPixelSize(pixels);
    return f;
}

// The small windows of the design open centred on the screen, whoever owns them.
inline void centreOnScreen(QWidget *window)
{
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect r = window->rect();
        r.moveCenter(screen->availableGeometry().center());
        window->move(r.topLeft());
    }
}

} // namespace designfonts
