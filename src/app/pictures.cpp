// SPDX-License-Identifier: GPL-3.0-or-later
#include "pictures.h"

#include "designfonts.h"

#include <QFontMetrics>
#include <QHash>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <QRadialGradient>

#include <array>
#include <cmath>
#include <numbers>
#include <optional>

namespace pictures {
namespace {

QPixmap transparentPixmap(QSize size)
{
    QPixmap pm(size);
    pm.fill(Qt::transparent);
    return pm;
}

// The largest font of the given weight, at most `pixels` high and at least 9,
// whose rendering of text fits in `box`.
QFont fittedFont(const QString &text, const QSize &box, int pixels, bool bold)
{
    QFont font = designfonts::arial(pixels, bold);
    for (; pixels > 9; --pixels) {
        font.setPixelSize(pixels);
        const QFontMetrics fm(font);
        if (fm.horizontalAdvance(text) <= box.width() && fm.height() <= box.height() + 2)
            break;
    }
    return font;
}

// Centred in box; a text still too wide at the smallest legible size is squeezed
// sideways, so no caption ever runs past its plate whatever family stands in.
void drawFittedText(QPainter &p, const QRect &box, const QString &text)
{
    const int advance = QFontMetrics(p.font()).horizontalAdvance(text);
    p.save();
    if (advance > box.width()) {
        const double squeeze = double(box.width()) / advance;
        p.translate(box.center().x() + 0.5, 0);
        p.scale(squeeze, 1.0);
        p.translate(-(box.center().x() + 0.5), 0);
        const int extra = advance - box.width();
        p.drawText(box.adjusted(-extra / 2 - 1, 0, extra - extra / 2 + 1, 0), Qt::AlignCenter, text);
    } else {
        p.drawText(box, Qt::AlignCenter, text);
    }
    p.restore();
}

QPixmap drawButtonPlate(const QString &caption, QSize size)
{
    QPixmap pm = transparentPixmap(size);
    const int w = size.width();
    const int h = size.height();
    if (w < 4 || h < 4)
        return pm;
    QPainter p(&pm);

    QLinearGradient face(0, 0, 0, h);
    face.setColorAt(0.0, QColor(0xA6, 0xA8, 0xAC));
    face.setColorAt(1.0, QColor(0x74, 0x77, 0x7C));
    p.fillRect(QRect(0, 0, w, h), face);

    // Two-pixel bevel: light on top and left, dark on bottom and right.
    const QColor outerLight(0xEE, 0xEE, 0xEE), innerLight(0xC8, 0xCA, 0xCE);
    const QColor outerDark(0x30, 0x30, 0x34), innerDark(0x58, 0x5A, 0x60);
    p.setPen(outerLight);
    p.drawLine(0, 0, w - 2, 0);
    p.drawLine(0, 0, 0, h - 2);
    p.setPen(innerLight);
    p.drawLine(1, 1, w - 3, 1);
    p.drawLine(1, 1, 1, h - 3);
    p.setPen(outerDark);
    p.drawLine(0, h - 1, w - 1, h - 1);
    p.drawLine(w - 1, 0, w - 1, h - 1);
    p.setPen(innerDark);
    p.drawLine(1, h - 2, w - 2, h - 2);
    p.drawLine(w - 2, 1, w - 2, h - 2);

    const QRect textBox(3, 2, w - 6, h - 4);
    p.setFont(fittedFont(caption, textBox.size(), 13, true));
    p.setPen(QColor(0x2A, 0x2C, 0x30));
    drawFittedText(p, textBox.translated(1, 1), caption);
    p.setPen(Qt::white);
    drawFittedText(p, textBox, caption);
    return pm;
}

QPixmap drawTitleLettering()
{
    const QString chip = QStringLiteral("CDX5170");
    const QString name = QStringLiteral("EVM Controller");
    // Outlines of the splash's own heavy face, scaled to 22 and 19 pixels and the name slanted by
    // hand: every further face or size would be one more font to load at start-up, for one picture.
    const QFont face = designfonts::arialBlack(12);
    const QFontMetricsF metrics(face);
    const qreal chipScale = 22.0 / 12.0, nameScale = 19.0 / 12.0;
    const qreal chipWidth = metrics.horizontalAdvance(chip) * chipScale;
    const qreal gap = 10;
    const int baseline = 22;
    const int width = int(std::ceil(chipWidth + gap + metrics.horizontalAdvance(name) * nameScale)) + 6;
    QPixmap pm = transparentPixmap(QSize(width, 28));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);

    QPainterPath chipPath, namePath;
    chipPath.addText(0, 0, face, chip);
    namePath.addText(0, 0, face, name);
    QPainterPath path = QTransform(chipScale, 0, 0, chipScale, 1, baseline).map(chipPath);
    // Slant about the baseline, as an oblique face would.
    path.addPath(QTransform(nameScale, 0, -0.2 * nameScale, nameScale, 1 + chipWidth + gap, baseline).map(namePath));
    p.translate(1, 1);
    p.fillPath(path, QColor(0, 0x40, 0x10, 0x90)); // soft shadow
    p.translate(-1, -1);
    QLinearGradient green(0, 4, 0, baseline);
    green.setColorAt(0.0, QColor(0x3C, 0xD0, 0x50));
    green.setColorAt(1.0, QColor(0x0C, 0x80, 0x24));
    p.fillPath(path, green);
    p.strokePath(path, QPen(QColor(0x05, 0x50, 0x14), 0.6));
    return pm;
}

QPixmap drawLogo()
{
    // A sine burst in a round badge, then the letters EVM, right-aligned so the
    // mark ends where the window's right-hand groups end.
    const QSize size(160, 28);
    QPixmap pm = transparentPixmap(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);

    const QFont font = designfonts::arialBlack(20);
    const QString text = QStringLiteral("EVM");
    const QFontMetrics fm(font);
    const int textWidth = fm.horizontalAdvance(text);
    const int textLeft = size.width() - textWidth - 2;
    const QRectF badge(textLeft - 8 - 26, 1, 26, 26);

    QRadialGradient disc(badge.center() - QPointF(4, 5), 18);
    disc.setColorAt(0.0, QColor(0x5A, 0x84, 0xC8));
    disc.setColorAt(1.0, QColor(0x1C, 0x34, 0x6C));
    p.setPen(QPen(QColor(0x10, 0x20, 0x48), 1));
    p.setBrush(disc);
    p.drawEllipse(badge);

    QPainterPath wave;
    const double left = badge.left() + 4, right = badge.right() - 4;
    const double mid = badge.center().y();
    for (int i = 0; i <= 40; ++i) {
        const double t = i / 40.0;
        const double x = left + t * (right - left);
        // A decaying burst: tall in the middle, fading at the ends.
        const double envelope = std::sin(t * std::numbers::pi);
        const double y = mid - 8.0 * envelope * std::sin(t * 4.0 * std::numbers::pi);
        if (i == 0)
            wave.moveTo(x, y);
        else
            wave.lineTo(x, y);
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0xF0, 0xF6, 0xFF), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(wave);

    p.setFont(font);
    p.setPen(QColor(0x1C, 0x34, 0x6C));
    p.drawText(QRect(textLeft, 0, textWidth + 2, size.height()), Qt::AlignLeft | Qt::AlignVCenter, text);
    return pm;
}

QPixmap drawConnectionPlate(int index)
{
    const QSize size(72, 19);
    QPixmap pm = transparentPixmap(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);

    // Not connected, connected, and connected but the last access failed.
    static const std::array<QColor, 3> fills{QColor(0xFF, 0xA8, 0xA8), QColor(0xA8, 0xF0, 0xA0), QColor(0xFF, 0xD8, 0x70)};
    static const std::array<QColor, 3> edges{QColor(0xC0, 0x48, 0x48), QColor(0x3C, 0x96, 0x3C), QColor(0xB0, 0x80, 0x10)};
    static const std::array<const char *, 3> words{"No EVM", "Connected", "Error"};
    const QColor fill = fills[size_t(index)];
    const QColor edge = edges[size_t(index)];
    const QRectF pill = QRectF(0.5, 0.5, size.width() - 1, size.height() - 1);
    const double radius = pill.height() / 2;
    p.setPen(QPen(edge, 1));
    p.setBrush(fill);
    p.drawRoundedRect(pill, radius, radius);

    const QString text = QLatin1String(words[size_t(index)]);
    const QRect textBox(7, 1, size.width() - 14, size.height() - 2);
    p.setFont(fittedFont(text, textBox.size(), 12, false));
    p.setPen(Qt::black);
    drawFittedText(p, textBox, text);
    return pm;
}

QPixmap drawLamp(int index)
{
    struct Colours {
        QColor light, body, rim;
    };
    static const std::array<Colours, 3> colours{{
        {QColor(0xFF, 0xFF, 0xFF), QColor(0xD8, 0xD8, 0xD8), QColor(0x80, 0x80, 0x80)}, // off
        {QColor(0xFF, 0x9A, 0x9A), QColor(0xE0, 0x10, 0x10), QColor(0x70, 0x00, 0x00)}, // red
        {QColor(0xA8, 0xFF, 0xA8), QColor(0x10, 0xC0, 0x20), QColor(0x00, 0x58, 0x08)}, // green
    }};
    const Colours &c = colours[index];
    QPixmap pm = transparentPixmap(QSize(16, 16));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);

    const QRectF disc(1.5, 1.5, 13, 13);
    QRadialGradient shade(QPointF(6, 6), 8, QPointF(5.5, 5));
    shade.setColorAt(0.0, c.light);
    shade.setColorAt(0.55, c.body);
    shade.setColorAt(1.0, c.body.darker(140));
    p.setPen(QPen(c.rim, 1));
    p.setBrush(shade);
    p.drawEllipse(disc);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(QRectF(4.5, 3.5, 3.5, 2.5));
    return pm;
}

} // namespace

// Each picture is drawn on first use and kept: the main window asks for the same
// few pictures many times while it is built.

QPixmap buttonPlate(const QString &caption, QSize size)
{
    static QHash<QString, QPixmap> cache;
    const QString key = QStringLiteral("%1|%2x%3").arg(caption).arg(size.width()).arg(size.height());
    auto it = cache.constFind(key);
    if (it == cache.constEnd())
        it = cache.insert(key, drawButtonPlate(caption, size));
    return *it;
}

QPixmap titleLettering()
{
    static const QPixmap pm = drawTitleLettering();
    return pm;
}

QPixmap logo()
{
    static const QPixmap pm = drawLogo();
    return pm;
}

QPixmap connectionPlate(int index)
{
    if (index < 0 || index > 2)
        return {};
    static std::array<std::optional<QPixmap>, 3> cache;
    if (!cache[index])
        cache[index] = drawConnectionPlate(index);
    return *cache[index];
}

QPixmap lamp(int index)
{
    if (index < 0 || index > 2)
        return {};
    static std::array<std::optional<QPixmap>, 3> cache;
    if (!cache[index])
        cache[index] = drawLamp(index);
    return *cache[index];
}

} // namespace pictures
