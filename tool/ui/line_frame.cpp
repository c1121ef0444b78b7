#include "tool/ui/line_frame.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>

#include "tool/ui/network_editor.h"
#include "tool/ui/station_pictures.h"

namespace kalvo::tool::ui {
namespace {

// The line's bar lies between the two rows of places.
constexpr int kLineY = 167;
constexpr int kBoardLeft = 16;
constexpr int kBoardTop = 52;
// The number panels' colour 0xE2E8FE (blue, green, red from high to low).
const QColor kPanelColour(0xFE, 0xE8, 0xE2);

// A station place: the right button opens the station dialog, the left one
// prepares a drag of the station; drops of stations are accepted.
class StationPlace : public StationPicture {
  public:
    StationPlace(LineFrame* frame, NetworkEditor* editor, int address)
        : StationPicture(frame, kStaNew, true), frame_(frame), editor_(editor), address_(address) {
        setAcceptDrops(true);
    }

  protected:
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() == Qt::RightButton) {
            editor_->rightClick(frame_->slot(), frame_->line(), address_);
            return;
        }
        editor_->startDragFrom(frame_->slot(), frame_->line(), address_);
        pressed_ = true;
        pressAt_ = e->position().toPoint();
    }
    void dragEnterEvent(QDragEnterEvent* e) override {
        if (e->mimeData()->hasFormat(kStationMime)) e->acceptProposedAction();
    }
    void dragMoveEvent(QDragMoveEvent* e) override {
        if (e->mimeData()->hasFormat(kStationMime)) e->acceptProposedAction();
    }
    void dropEvent(QDropEvent* e) override {
        if (!e->mimeData()->hasFormat(kStationMime)) return;
        e->acceptProposedAction();
        editor_->dropOn(frame_->slot(), frame_->line(), address_);
    }

  private:
    LineFrame* frame_;
    NetworkEditor* editor_;
    int address_;
};

QLabel* panel(QWidget* parent, const QString& name, const QString& text, int x, int y) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setGeometry(x, y, 56, 22);
    l->setAlignment(Qt::AlignCenter);
    l->setFrameShape(QFrame::Panel);
    l->setFrameShadow(QFrame::Sunken);
    l->setAutoFillBackground(true);
    QPalette pal = l->palette();
    pal.setColor(QPalette::Window, kPanelColour);
    pal.setColor(QPalette::WindowText, Qt::black);
    l->setPalette(pal);
    return l;
}

}  // namespace

QRect stationPlaceRect(int address) {
    const int r = address / 16, c = address % 16;
    return r == 0 ? QRect(144 + 36 * c, 70, kStationPictureWidth, kStationPictureHeight)
                  : QRect(160 + 36 * c, 202, kStationPictureWidth, kStationPictureHeight);
}

QRect addressLabelRect(int address) {
    const int r = address / 16, c = address % 16;
    return r == 0 ? QRect(154 + 36 * c, 54, 20, 12) : QRect(170 + 36 * c, 268, 20, 12);
}

LineFrame::LineFrame(NetworkEditor* editor, int slot, int line, int boardNo, int kind, int page)
    : editor_(editor), slot_(slot), line_(line), kind_(kind) {
    setProperty("Tag", page);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0xfb, 0xfc, 0xfe));
    setPalette(pal);
    auto* lblBoard = new QLabel(QStringLiteral("ボード："), this);
    lblBoard->setObjectName(QStringLiteral("lblBoardNo"));
    lblBoard->setGeometry(16, 300, 60, 22);
    panel(this, QStringLiteral("pnBoardNo"), QStringLiteral("# %1").arg(boardNo), 76, 300);
    auto* lblLine = new QLabel(QStringLiteral("ライン："), this);
    lblLine->setObjectName(QStringLiteral("lblLineNo"));
    lblLine->setGeometry(150, 300, 60, 22);
    panel(this, QStringLiteral("pnLineNo"), QStringLiteral("# %1").arg(line + 1), 210, 300);
    for (int a = 0; a < kAddresses; ++a) {
        auto* place = new StationPlace(this, editor, a);
        place->setObjectName(QStringLiteral("Station%1").arg(a));
        place->setGeometry(stationPlaceRect(a));
        place->setProperty("Tag", slot * 10000 + line * 32 + a);
        places_[a] = place;
        auto* label = new QLabel(QString::number(a), this);
        label->setGeometry(addressLabelRect(a));
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        QFont f = label->font();
        f.setPixelSize(10);
        label->setFont(f);
    }
}

void LineFrame::setKind(int kind) {
    kind_ = kind;
    update();
}

void LineFrame::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    paintBoard(p, QRectF(kBoardLeft, kBoardTop, kBoardPictureWidth, kBoardPictureHeight), kind_);
    // Connector shapes: down from the board, then along to the line's start.
    const int coneTop = kind_ == 2 ? 138 : 110;
    const int coneX = kBoardLeft + 40;
    const QColor cable(0x3a, 0x3f, 0x48);
    p.fillRect(QRect(coneX, coneTop, 4, kLineY - coneTop), cable);
    p.fillRect(QRect(coneX, kLineY - 2, 144 - coneX, 4), cable);
    // The line (Shape1) and the drop lines of the 32 addresses.
    const int lineEnd = stationPlaceRect(31).right() + 8;
    QLinearGradient g(0, kLineY - 3, 0, kLineY + 3);
    g.setColorAt(0, QColor(0x5d, 0x8c, 0xd0));
    g.setColorAt(1, QColor(0x2c, 0x4f, 0x86));
    p.fillRect(QRect(140, kLineY - 3, lineEnd - 140, 6), g);
    for (int a = 0; a < kAddresses; ++a) {
        const QRect r = stationPlaceRect(a);
        const int x = r.center().x();
        if (a < 16)
            p.fillRect(QRect(x - 1, r.bottom() + 1, 2, kLineY - r.bottom() - 1), cable);
        else
            p.fillRect(QRect(x - 1, kLineY, 2, r.top() - kLineY), cable);
    }
}

}  // namespace kalvo::tool::ui
