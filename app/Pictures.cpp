#include "Pictures.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

namespace {

QPixmap Blank(int width, int height) {
    QPixmap pixmap(width, height);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

}  // namespace

// A round gauge with a needle: the tool watches and reshapes a reading. Drawn on an image, so
// that the build renders the installed icons from it without a display; dist/corvane-zel.svg
// draws the same picture.
QImage AppIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    QLinearGradient face(0, 0, 0, 64);
    face.setColorAt(0, QColor(0x1F, 0x4E, 0x8C));
    face.setColorAt(1, QColor(0x0B, 0x24, 0x47));
    p.setPen(Qt::NoPen);
    p.setBrush(face);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    p.setPen(QPen(QColor(0xE8, 0xEE, 0xF5), 4, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(10, 12, 44, 44), 200 * 16, -220 * 16);
    p.setPen(QPen(QColor(0xFF, 0x8A, 0x1F), 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(32, 34), QPointF(47, 20));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xE8, 0xEE, 0xF5));
    p.drawEllipse(QPointF(32, 34), 5, 5);
    return image;
}

QIcon AppIcon() {
    static const QIcon icon = [] {
        QIcon sizes;
        for (int size : {16, 32, 48, 64, 128})
            sizes.addPixmap(QPixmap::fromImage(AppIconImage(size)));
        return sizes;
    }();
    return icon;
}

QPixmap ConnectPicture() {
    QPixmap pixmap = Blank(64, 64);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // A serial plug on its cable.
    p.setPen(QPen(QColor(0x30, 0x30, 0x30), 5, Qt::SolidLine, Qt::RoundCap));
    QPainterPath cable;
    cable.moveTo(8, 56);
    cable.cubicTo(8, 40, 26, 44, 26, 36);
    p.drawPath(cable);
    p.setPen(QPen(QColor(0x20, 0x20, 0x20), 2));
    p.setBrush(QColor(0x5A, 0x6B, 0x7D));
    p.drawRoundedRect(QRectF(14, 18, 30, 20), 4, 4);
    p.setBrush(QColor(0xC8, 0xCF, 0xD6));
    QPolygonF shell({QPointF(40, 12), QPointF(58, 14), QPointF(56, 42), QPointF(40, 44)});
    p.drawPolygon(shell);
    p.setBrush(QColor(0x20, 0x20, 0x20));
    for (int i = 0; i < 3; ++i) p.drawEllipse(QPointF(49, 20 + 9 * i), 2.2, 2.2);
    return pixmap;
}

QPixmap OpenFilePicture() {
    QPixmap pixmap = Blank(64, 64);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // An open folder with a sheet in it.
    p.setPen(QPen(QColor(0x8A, 0x5A, 0x00), 2));
    p.setBrush(QColor(0xE9, 0xB9, 0x3A));
    p.drawPolygon(QPolygonF({QPointF(6, 14), QPointF(24, 14), QPointF(28, 20), QPointF(56, 20),
                             QPointF(56, 52), QPointF(6, 52)}));
    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1.5));
    p.drawRect(QRectF(16, 10, 30, 30));
    p.setPen(QPen(QColor(0x1F, 0x4E, 0x8C), 2));
    for (int i = 0; i < 3; ++i) p.drawLine(QPointF(20, 18 + 6 * i), QPointF(42, 18 + 6 * i));
    p.setPen(QPen(QColor(0x8A, 0x5A, 0x00), 2));
    p.setBrush(QColor(0xF6, 0xCF, 0x5C));
    p.drawPolygon(QPolygonF({QPointF(4, 28), QPointF(60, 28), QPointF(54, 56), QPointF(8, 56)}));
    return pixmap;
}

QPixmap SaveFilePicture() {
    QPixmap pixmap = Blank(64, 64);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // A disk with a downward arrow.
    p.setPen(QPen(QColor(0x10, 0x22, 0x3A), 2));
    p.setBrush(QColor(0x2E, 0x5E, 0x9E));
    p.drawPolygon(QPolygonF(
        {QPointF(8, 8), QPointF(48, 8), QPointF(56, 16), QPointF(56, 56), QPointF(8, 56)}));
    p.setBrush(QColor(0xDD, 0xE4, 0xEC));
    p.drawRect(QRectF(16, 8, 28, 16));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(14, 34, 36, 22));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1E, 0x9E, 0x4A));
    p.drawPolygon(QPolygonF({QPointF(28, 36), QPointF(36, 36), QPointF(36, 44), QPointF(42, 44),
                             QPointF(32, 54), QPointF(22, 44), QPointF(28, 44)}));
    return pixmap;
}

QPixmap LogoPicture() {
    QPixmap pixmap = Blank(162, 88);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // A rising curve over a baseline, with the tool's short name.
    p.setPen(QPen(QColor(0x1F, 0x4E, 0x8C), 3));
    p.drawLine(QPointF(10, 60), QPointF(152, 60));
    QPainterPath curve;
    curve.moveTo(10, 56);
    curve.cubicTo(60, 56, 80, 14, 152, 10);
    p.setPen(QPen(QColor(0xFF, 0x8A, 0x1F), 5, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(curve);
    QFont font;
    font.setPixelSize(20);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 4);
    p.setFont(font);
    p.setPen(QColor(0x1F, 0x4E, 0x8C));
    p.drawText(QRectF(0, 62, 162, 26), Qt::AlignCenter, QStringLiteral("ZEL"));
    return pixmap;
}
