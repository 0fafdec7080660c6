#include "ferrow/app/artwork.h"

#include <QApplication>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace ferrow {

namespace {

// Every icon is drawn on a 32-unit grid and scaled to the size asked for.
constexpr int kGrid = 32;

void drawPage(QPainter& p) {
    QPainterPath page;
    page.moveTo(7, 3);
    page.lineTo(20, 3);
    page.lineTo(26, 9);
    page.lineTo(26, 29);
    page.lineTo(7, 29);
    page.closeSubpath();
    p.setPen(QPen(QColor(70, 70, 70), 1.5));
    p.setBrush(Qt::white);
    p.drawPath(page);
    p.setBrush(QColor(220, 220, 220));
    p.drawPolygon(QPolygonF({QPointF(20, 3), QPointF(20, 9), QPointF(26, 9)}));
}

void drawFolder(QPainter& p) {
    p.setPen(QPen(QColor(140, 100, 20), 1.5));
    p.setBrush(QColor(235, 190, 70));
    p.drawPolygon(QPolygonF(
        {QPointF(3, 8), QPointF(12, 8), QPointF(14, 11), QPointF(28, 11), QPointF(28, 27), QPointF(3, 27)}));
    p.setBrush(QColor(250, 215, 110));
    p.drawPolygon(QPolygonF({QPointF(6, 15), QPointF(31, 15), QPointF(28, 27), QPointF(3, 27)}));
}

void drawDisk(QPainter& p) {
    p.setPen(QPen(QColor(20, 40, 90), 1.5));
    p.setBrush(QColor(50, 90, 170));
    p.drawRoundedRect(QRectF(4, 4, 24, 24), 2, 2);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(9, 5, 14, 9));
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(QRectF(10, 19, 12, 9));
    p.setBrush(QColor(50, 90, 170));
    p.drawRect(QRectF(18, 21, 2.5, 5));
}

void drawDevice(QPainter& p, const QColor& led) {
    p.setPen(QPen(QColor(60, 60, 60), 1.5));
    p.setBrush(QColor(170, 180, 190));
    p.drawRoundedRect(QRectF(3, 10, 22, 16), 2, 2);
    p.setBrush(QColor(90, 100, 110));
    for (int i = 0; i < 3; ++i) p.drawRect(QRectF(6 + i * 5, 20, 3, 3));
    p.setBrush(led);
    p.drawEllipse(QRectF(18, 13, 4, 4));
}

void drawPlus(QPainter& p) {
    p.setPen(QPen(QColor(20, 120, 30), 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(25, 3), QPointF(25, 13));
    p.drawLine(QPointF(20, 8), QPointF(30, 8));
}

void drawCross(QPainter& p) {
    p.setPen(QPen(QColor(200, 30, 30), 4.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(7, 7), QPointF(25, 25));
    p.drawLine(QPointF(25, 7), QPointF(7, 25));
}

void drawProperties(QPainter& p) {
    drawPage(p);
    p.setPen(QPen(QColor(60, 60, 140), 2));
    for (int y = 13; y <= 25; y += 4) p.drawLine(QPointF(10, y), QPointF(23, y));
}

void drawConnect(QPainter& p) {
    p.setPen(QPen(QColor(30, 110, 40), 3, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(3, 11, 14, 10), 5, 5);
    p.drawRoundedRect(QRectF(15, 11, 14, 10), 5, 5);
}

void drawWave(QPainter& p) {
    p.setPen(QPen(QColor(60, 60, 60), 1.5));
    p.setBrush(QColor(255, 255, 230));
    p.drawRect(QRectF(3, 5, 26, 22));
    QPainterPath wave;
    for (int x = 0; x <= 22; ++x) {
        const QPointF point(5 + x, 16 - 7 * std::sin(x * 3.14159 / 6.0));
        if (x == 0)
            wave.moveTo(point);
        else
            wave.lineTo(point);
    }
    p.setPen(QPen(QColor(180, 60, 0), 2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);
}

void drawMonitor(QPainter& p) {
    p.setPen(QPen(QColor(40, 40, 40), 1.5));
    p.setBrush(QColor(30, 40, 50));
    p.drawRoundedRect(QRectF(2, 4, 28, 19), 2, 2);
    p.setBrush(QColor(120, 120, 120));
    p.drawRect(QRectF(12, 23, 8, 3));
    p.drawRect(QRectF(8, 26, 16, 2));
    p.setPen(QPen(QColor(60, 230, 90), 2));
    p.drawPolyline(QPolygonF({QPointF(5, 17), QPointF(10, 12), QPointF(14, 15), QPointF(19, 8),
                              QPointF(23, 13), QPointF(27, 10)}));
}

void drawHelp(QPainter& p) {
    p.setPen(QPen(QColor(20, 60, 140), 1.5));
    p.setBrush(QColor(60, 120, 210));
    p.drawEllipse(QRectF(3, 3, 26, 26));
    QFont font = QApplication::font();
    font.setPixelSize(20);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(3, 3, 26, 26), Qt::AlignCenter, QStringLiteral("?"));
}

void drawApp(QPainter& p) {
    QLinearGradient fill(0, 0, 0, kGrid);
    fill.setColorAt(0, QColor(40, 110, 190));
    fill.setColorAt(1, QColor(15, 55, 120));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    // Three devices feeding one server.
    p.setPen(QPen(QColor(190, 220, 255), 1.5));
    for (int y : {7, 16, 25}) p.drawLine(QPointF(8, y), QPointF(21, 16));
    p.setBrush(QColor(120, 230, 120));
    p.setPen(Qt::NoPen);
    for (int y : {7, 16, 25}) p.drawEllipse(QPointF(7, y), 3, 3);
    p.setBrush(QColor(255, 200, 60));
    p.drawRoundedRect(QRectF(19, 10, 9, 12), 2, 2);
}

void draw(QPainter& p, ToolIcon icon) {
    switch (icon) {
        case ToolIcon::New:
            drawPage(p);
            break;
        case ToolIcon::Open:
            drawFolder(p);
            break;
        case ToolIcon::Save:
            drawDisk(p);
            break;
        case ToolIcon::NewDevice:
            drawDevice(p, QColor(120, 230, 120));
            drawPlus(p);
            break;
        case ToolIcon::Delete:
            drawCross(p);
            break;
        case ToolIcon::Properties:
            drawProperties(p);
            break;
        case ToolIcon::Connect:
            drawConnect(p);
            break;
        case ToolIcon::Simulate:
            drawWave(p);
            break;
        case ToolIcon::Monitor:
            drawMonitor(p);
            break;
        case ToolIcon::About:
            drawHelp(p);
            break;
    }
}

template <typename Paint>
QIcon iconOf(Paint paint) {
    QIcon icon;
    for (int size : {16, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / double(kGrid), size / double(kGrid));
        paint(p);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

QIcon appIcon() {
    return iconOf([](QPainter& p) { drawApp(p); });
}

QIcon toolIcon(ToolIcon which) {
    return iconOf([which](QPainter& p) { draw(p, which); });
}

QPixmap splashPixmap() {
    QPixmap pixmap(420, 240);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, pixmap.height());
    fill.setColorAt(0, QColor(25, 75, 145));
    fill.setColorAt(1, QColor(8, 30, 70));
    p.fillRect(pixmap.rect(), fill);
    p.save();
    p.translate(30, 40);
    p.scale(2.5, 2.5);
    drawApp(p);
    p.restore();
    QFont title = QApplication::font();
    title.setPixelSize(28);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(130, 40, 280, 40), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Ferrow"));
    QFont text = QApplication::font();
    text.setPixelSize(15);
    p.setFont(text);
    p.setPen(QColor(200, 220, 245));
    p.drawText(QRect(130, 80, 280, 24), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Morvane Ferrow Server"));
    p.drawText(QRect(130, 104, 280, 24), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("OPC Data Access 1.0 and 2.0"));
    p.setPen(QColor(150, 175, 210));
    p.drawText(QRect(30, 190, 360, 24), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Datapoints of Quillon 2000 controllers"));
    p.setPen(QPen(QColor(90, 140, 210), 2));
    p.drawRect(pixmap.rect().adjusted(1, 1, -2, -2));
    return pixmap;
}

}  // namespace ferrow
