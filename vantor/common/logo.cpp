#include "vantor/common/logo.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "vantor/common/fonts.h"

namespace vantor {

QPixmap makerLogo(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;

    // A rounded blue tile with a stylised "M" made of two peaks, and a small signal arc over it.
    QLinearGradient tile(0, 0, 0, s);
    tile.setColorAt(0.0, QColor(0x1d, 0x5f, 0xa8));
    tile.setColorAt(1.0, QColor(0x0b, 0x2e, 0x5c));
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(0.04 * s, 0.04 * s, 0.92 * s, 0.92 * s), 0.16 * s, 0.16 * s);

    QPainterPath peaks;
    peaks.moveTo(0.18 * s, 0.78 * s);
    peaks.lineTo(0.34 * s, 0.38 * s);
    peaks.lineTo(0.50 * s, 0.62 * s);
    peaks.lineTo(0.66 * s, 0.38 * s);
    peaks.lineTo(0.82 * s, 0.78 * s);
    QPen stroke(QColor(0xf2, 0xb1, 0x34), 0.09 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(stroke);
    p.setBrush(Qt::NoBrush);
    p.drawPath(peaks);

    QPen arc(QColor(0xe8, 0xf0, 0xfa), 0.045 * s, Qt::SolidLine, Qt::RoundCap);
    p.setPen(arc);
    p.drawArc(QRectF(0.36 * s, 0.12 * s, 0.28 * s, 0.28 * s), 30 * 16, 120 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xe8, 0xf0, 0xfa));
    p.drawEllipse(QPointF(0.5 * s, 0.26 * s), 0.035 * s, 0.035 * s);
    return pixmap;
}

}  // namespace vantor
