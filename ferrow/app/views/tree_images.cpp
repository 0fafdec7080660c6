#include "ferrow/app/views/tree_images.h"

#include <QPainter>
#include <QPainterPath>
#include <array>

namespace ferrow {

namespace {

// A device: a board with a row of pins on each side and a lamp, green when connected. Its selected
// form has a lighter board, as an opened item of the tree.
QPixmap drawDevice(bool connected, bool selected) {
    QPixmap image(kImageSize, kImageSize);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setPen(QColor(0x40, 0x40, 0x40));
    for (int y = 4; y <= 12; y += 4) {
        p.drawLine(0, y, 2, y);
        p.drawLine(13, y, 15, y);
    }
    p.setBrush(selected ? QColor(0x70, 0x90, 0xB0) : QColor(0x30, 0x50, 0x70));
    p.drawRect(2, 1, 11, 14);
    p.setPen(Qt::black);
    p.setBrush(connected ? QColor(0x00, 0xE0, 0x00) : QColor(0xC0, 0x00, 0x00));
    p.drawEllipse(QRect(5, 4, 5, 5));
    p.setPen(QColor(0xE0, 0xE0, 0xE0));
    p.drawLine(5, 12, 10, 12);
    return image;
}

// A tag: a label with a hole for its string.
QPixmap drawTag() {
    QPixmap image(kImageSize, kImageSize);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath label;
    label.moveTo(1, 8);
    label.lineTo(6, 3);
    label.lineTo(15, 3);
    label.lineTo(15, 13);
    label.lineTo(6, 13);
    label.closeSubpath();
    p.setPen(QColor(0x80, 0x60, 0x00));
    p.setBrush(QColor(0xF0, 0xD0, 0x40));
    p.drawPath(label);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(4.5, 6.5, 3, 3));
    return image;
}

const std::array<QPixmap, kImageCount>& images() {
    static const std::array<QPixmap, kImageCount> list{drawTag(), drawDevice(true, false),
                                                       drawDevice(true, true), drawDevice(false, false),
                                                       drawDevice(false, true)};
    return list;
}

}  // namespace

QPixmap treeImage(int index) {
    return index >= 0 && index < kImageCount ? images()[static_cast<std::size_t>(index)] : QPixmap();
}

QIcon treeIcon(int image) {
    QIcon icon;
    icon.addPixmap(treeImage(image), QIcon::Normal);
    icon.addPixmap(treeImage(image + 1), QIcon::Selected);
    return icon;
}

}  // namespace ferrow
