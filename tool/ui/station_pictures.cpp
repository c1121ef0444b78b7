#include "tool/ui/station_pictures.h"

#include <QPainterPath>

#include <algorithm>

#include "tool/model/model_types.h"

namespace kalvo::tool::ui {
namespace {

struct StationLook {
    QColor body;
    QColor band;
    const char* text;
};

StationLook lookOf(int staType) {
    switch (staType) {
        case kStaMst:
            return {QColor(0x4a, 0x78, 0xb8), QColor(0x2c, 0x4f, 0x86), "MST"};
        case kStaAxs2:
            return {QColor(0xe0, 0x8a, 0x2e), QColor(0xa8, 0x5c, 0x12), "AX2"};
        case kStaAxs4:
            return {QColor(0xd0, 0x5a, 0x24), QColor(0x93, 0x36, 0x0e), "AX4"};
        case kStaRfid2:
            return {QColor(0x3f, 0xa0, 0x5a), QColor(0x24, 0x6e, 0x39), "RF2"};
        case kStaRfid3:
            return {QColor(0x2a, 0x95, 0x94), QColor(0x15, 0x64, 0x63), "RF3"};
        default:
            return {QColor(0x8a, 0x8f, 0x98), QColor(0x5d, 0x62, 0x6b), "SUB"};
    }
}

// Scales a picture drawn on its design size into r.
struct Scaled {
    QPainter& p;
    Scaled(QPainter& painter, const QRectF& r, qreal w, qreal h) : p(painter) {
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(r.topLeft());
        p.scale(r.width() / w, r.height() / h);
    }
    ~Scaled() { p.restore(); }
};

}  // namespace

void paintStation(QPainter& p, const QRectF& r, int staType, bool head,
                  const QStringList& modules) {
    Scaled s(p, r, kStationPictureWidth, kStationPictureHeight);
    if (staType == kStaNew) {
        // An empty place: a dashed outline with a plus.
        p.setPen(QPen(QColor(0x9a, 0xa4, 0xb4), 1.2, Qt::DashLine));
        p.setBrush(QColor(0xf4, 0xf6, 0xfa));
        p.drawRoundedRect(QRectF(3.5, 6.5, 25, 51), 3, 3);
        p.setPen(QPen(QColor(0x9a, 0xa4, 0xb4), 2));
        p.drawLine(QPointF(16, 25), QPointF(16, 39));
        p.drawLine(QPointF(9, 32), QPointF(23, 32));
        return;
    }
    const StationLook look = lookOf(staType);
    // Connector on top, where the drop line meets the station.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x50, 0x55, 0x5e));
    p.drawRect(QRectF(12, 0, 8, 5));
    QColor body = head ? look.body : look.body.lighter(150);
    QLinearGradient g(0, 0, 32, 0);
    g.setColorAt(0, body.lighter(115));
    g.setColorAt(1, body.darker(110));
    p.setBrush(g);
    p.setPen(QPen(look.band, 1));
    p.drawRoundedRect(QRectF(2.5, 4.5, 27, 57), 3, 3);
    if (head) {
        p.setBrush(look.band);
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRectF(3, 5, 26, 13), 2, 2);
        p.setPen(Qt::white);
        QFont f = p.font();
        f.setPixelSize(9);
        f.setBold(true);
        p.setFont(f);
        p.drawText(QRectF(3, 5, 26, 13), Qt::AlignCenter, QString::fromLatin1(look.text));
        // Status lamps and terminal block.
        p.setBrush(QColor(0x6c, 0xe0, 0x6c));
        p.drawEllipse(QRectF(7, 22, 5, 5));
        p.setBrush(QColor(0xf2, 0xc2, 0x3a));
        p.drawEllipse(QRectF(14, 22, 5, 5));
        p.setBrush(QColor(0xe8, 0x55, 0x4a));
        p.drawEllipse(QRectF(21, 22, 5, 5));
        if (modules.isEmpty()) {
            // Terminal block of a station without modules.
            p.setBrush(QColor(255, 255, 255, 200));
            for (int i = 0; i < 5; ++i) p.drawRect(QRectF(7, 33 + 5 * i, 18, 3));
        } else {
            // One plate per module with its code: what tells two MST
            // stations apart on the line.
            QFont small = p.font();
            small.setPixelSize(6);
            small.setBold(false);
            small.setStretch(QFont::SemiCondensed);
            p.setFont(small);
            for (int i = 0; i < std::min<qsizetype>(modules.size(), 4); ++i) {
                const QRectF plate(4, 31 + 7.25 * i, 24, 6.5);
                p.setPen(Qt::NoPen);
                p.setBrush(QColor(255, 255, 255, 225));
                p.drawRoundedRect(plate, 1, 1);
                p.setPen(look.band);
                QString code = modules[i];
                if (code.startsWith(QStringLiteral("QM"))) code = code.mid(2);
                p.drawText(plate, Qt::AlignCenter, code);
            }
        }
    } else {
        // A continuation address: a link arrow back to its head.
        p.setPen(QPen(look.band, 2));
        p.drawLine(QPointF(22, 32), QPointF(9, 32));
        p.drawLine(QPointF(9, 32), QPointF(14, 27));
        p.drawLine(QPointF(9, 32), QPointF(14, 37));
        p.setPen(QPen(look.band, 1, Qt::DotLine));
        p.drawLine(QPointF(7, 48), QPointF(25, 48));
    }
}

void paintBoard(QPainter& p, const QRectF& r, int kind) {
    if (kind <= 0 || kind >= kBoardKinds) return;
    Scaled s(p, r, kBoardPictureWidth, kBoardPictureHeight);
    if (kind == 3) {
        // PC card: a metal card with its 68-pin header and the line plug.
        p.setPen(QPen(QColor(0x55, 0x5b, 0x66), 1));
        QLinearGradient g(0, 0, 0, 58);
        g.setColorAt(0, QColor(0xe4, 0xe7, 0xec));
        g.setColorAt(1, QColor(0xb4, 0xb9, 0xc2));
        p.setBrush(g);
        p.drawRoundedRect(QRectF(4.5, 6.5, 82, 44), 4, 4);
        p.setBrush(QColor(0x33, 0x37, 0x3e));
        p.drawRect(QRectF(4.5, 12.5, 5, 32));
        p.setBrush(QColor(0x2c, 0x4f, 0x86));
        p.drawRect(QRectF(30.5, 18.5, 40, 20));
        p.setPen(Qt::white);
        QFont f = p.font();
        f.setPixelSize(9);
        f.setBold(true);
        p.setFont(f);
        p.drawText(QRectF(30, 18, 41, 21), Qt::AlignCenter, QStringLiteral("Kalvo"));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x50, 0x55, 0x5e));
        p.drawRect(QRectF(86, 24, 4, 10));
        return;
    }
    if (kind == 4) {
        // Panel extension unit: a housing with its front display.
        p.setPen(QPen(QColor(0x6b, 0x63, 0x55), 1));
        p.setBrush(QColor(0xe9, 0xe2, 0xd2));
        p.drawRoundedRect(QRectF(6.5, 3.5, 78, 50), 5, 5);
        p.setBrush(QColor(0x27, 0x3c, 0x52));
        p.drawRect(QRectF(14.5, 10.5, 44, 24));
        p.setBrush(QColor(0x6c, 0xe0, 0x6c));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QRectF(66, 12, 6, 6));
        p.setBrush(QColor(0xf2, 0xc2, 0x3a));
        p.drawEllipse(QRectF(66, 22, 6, 6));
        p.setBrush(QColor(0x50, 0x55, 0x5e));
        p.drawRect(QRectF(40, 53, 10, 5));
        return;
    }
    // PCI boards: green circuit board with the edge connector and bracket.
    const QColor pcb = kind == 2 ? QColor(0x1f, 0x5e, 0x8a) : QColor(0x1e, 0x7a, 0x46);
    p.setPen(QPen(pcb.darker(140), 1));
    p.setBrush(pcb);
    p.drawRoundedRect(QRectF(2.5, 2.5, 80, 44), 2, 2);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xd8, 0xb0, 0x3c));
    for (int i = 0; i < 14; ++i) p.drawRect(QRectF(14 + 4.5 * i, 46.5, 3, 7));
    p.setBrush(QColor(0xa6, 0xab, 0xb3));
    p.drawRect(QRectF(82.5, 0.5, 7, 56));
    p.setBrush(QColor(0x23, 0x26, 0x2b));
    p.drawRect(QRectF(20, 12, 24, 22));
    if (kind == 2) p.drawRect(QRectF(50, 16, 16, 14));
    p.setBrush(QColor(0x50, 0x55, 0x5e));
    p.drawRect(QRectF(70, 20, 12, 12));
    p.setBrush(QColor(0xf2, 0xc2, 0x3a));
    p.drawEllipse(QRectF(8, 8, 4, 4));
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setPixelSize(7);
    p.setFont(f);
    p.drawText(QRectF(20, 12, 24, 22), Qt::AlignCenter, QStringLiteral("KV"));
}

QPixmap toolPixmap(ToolPicture which, int size, qreal scale) {
    QPixmap pm(int(size * scale), int(size * scale));
    pm.setDevicePixelRatio(scale);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 24.0, size / 24.0);
    const QColor ink(0x2c, 0x4f, 0x86);
    switch (which) {
        case ToolPicture::newFile: {
            QPainterPath page;
            page.moveTo(5, 2);
            page.lineTo(14, 2);
            page.lineTo(19, 7);
            page.lineTo(19, 22);
            page.lineTo(5, 22);
            page.closeSubpath();
            p.setPen(QPen(ink, 1.4));
            p.setBrush(Qt::white);
            p.drawPath(page);
            p.drawLine(QPointF(14, 2), QPointF(14, 7));
            p.drawLine(QPointF(14, 7), QPointF(19, 7));
            p.setPen(QPen(QColor(0x3f, 0xa0, 0x5a), 2));
            p.drawLine(QPointF(12, 11), QPointF(12, 19));
            p.drawLine(QPointF(8, 15), QPointF(16, 15));
            break;
        }
        case ToolPicture::openFile:
            p.setPen(QPen(QColor(0x9a, 0x6a, 0x12), 1.3));
            p.setBrush(QColor(0xf2, 0xc2, 0x3a));
            p.drawRect(QRectF(2, 6, 20, 15));
            p.setBrush(QColor(0xf7, 0xd8, 0x75));
            p.drawRect(QRectF(2, 4, 8, 3));
            p.drawPolygon(
                QPolygonF({QPointF(5, 10), QPointF(23, 10), QPointF(20, 21), QPointF(2, 21)}));
            break;
        case ToolPicture::saveFile:
            p.setPen(QPen(ink.darker(120), 1.3));
            p.setBrush(ink);
            p.drawRoundedRect(QRectF(3, 3, 18, 18), 2, 2);
            p.setBrush(Qt::white);
            p.drawRect(QRectF(7, 3, 10, 7));
            p.setBrush(QColor(0xdd, 0xe3, 0xee));
            p.drawRect(QRectF(6, 13, 12, 8));
            break;
        case ToolPicture::transfer:
            p.setPen(QPen(ink, 1.3));
            p.setBrush(QColor(0xdd, 0xe3, 0xee));
            p.drawRect(QRectF(2, 5, 8, 14));
            p.setBrush(QColor(0xe0, 0x8a, 0x2e));
            p.drawRect(QRectF(15, 3, 7, 18));
            p.setPen(QPen(QColor(0x3f, 0xa0, 0x5a), 2.2));
            p.drawLine(QPointF(10, 12), QPointF(14, 12));
            p.drawLine(QPointF(11.5, 9), QPointF(14, 12));
            p.drawLine(QPointF(11.5, 15), QPointF(14, 12));
            break;
        case ToolPicture::program:
            p.setPen(QPen(ink.darker(120), 1));
            p.setBrush(QColor(0x4a, 0x78, 0xb8));
            p.drawRoundedRect(QRectF(1, 1, 22, 22), 4, 4);
            p.setPen(QPen(Qt::white, 1.6));
            p.drawLine(QPointF(5, 12), QPointF(19, 12));
            for (int x : {7, 12, 17}) {
                p.drawLine(QPointF(x, 12), QPointF(x, 17));
                p.setBrush(Qt::white);
                p.drawRect(QRectF(x - 1.5, 17, 3, 3));
            }
            p.drawRect(QRectF(9, 5, 6, 4));
            p.drawLine(QPointF(12, 9), QPointF(12, 12));
            break;
    }
    return pm;
}

QIcon toolIcon(ToolPicture which) {
    QIcon icon;
    for (qreal scale : {1.0, 2.0}) {
        icon.addPixmap(toolPixmap(which, 16, scale));
        icon.addPixmap(toolPixmap(which, 24, scale));
    }
    return icon;
}

}  // namespace kalvo::tool::ui
