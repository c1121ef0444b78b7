#include "tool/ui/station_palette.h"

#include <QApplication>
#include <QDrag>
#include <QGroupBox>
#include <QGuiApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>

#include "tool/ui/station_pictures.h"

namespace kalvo::tool::ui {
namespace {

// A palette picture: pressing it makes the current station a copy of its
// type's template.
class PalettePicture : public StationPicture {
  public:
    PalettePicture(QWidget* parent, ToolSession& session, int staType)
        : StationPicture(parent, staType, true), session_(session) {}

  protected:
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() != Qt::LeftButton) return;
        session_.model.current = session_.model.stationTemplate(staType());
        pressed_ = true;
        pressAt_ = e->position().toPoint();
    }
    void dragEnterEvent(QDragEnterEvent* e) override { e->acceptProposedAction(); }
    void dropEvent(QDropEvent* e) override { e->ignore(); }

  private:
    ToolSession& session_;
};

}  // namespace

StationPicture::StationPicture(QWidget* parent, int staType, bool head)
    : QWidget(parent), staType_(staType), head_(head) {
    resize(kStationPictureWidth, kStationPictureHeight);
}

void StationPicture::setStation(int staType, bool head, const QStringList& modules) {
    if (staType == staType_ && head == head_ && modules == modules_) return;
    staType_ = staType;
    head_ = head;
    modules_ = modules;
    update();
}

void StationPicture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paintStation(p, QRectF(rect()), staType_, head_, modules_);
}

void StationPicture::mouseMoveEvent(QMouseEvent* e) {
    if (!pressed_ || !(e->buttons() & Qt::LeftButton)) return;
    if ((e->position().toPoint() - pressAt_).manhattanLength() < QApplication::startDragDistance())
        return;
    pressed_ = false;
    auto* drag = new QDrag(this);
    auto* mime = new QMimeData;
    mime->setData(kStationMime, QByteArray::number(staType_));
    drag->setMimeData(mime);
    QPixmap pm(QSize(kStationPictureWidth, kStationPictureHeight) * devicePixelRatioF());
    pm.setDevicePixelRatio(devicePixelRatioF());
    pm.fill(Qt::transparent);
    {
        QPainter p(&pm);
        paintStation(p, QRectF(0, 0, kStationPictureWidth, kStationPictureHeight), staType_, head_,
                     modules_);
    }
    drag->setPixmap(pm);
    drag->setHotSpot(pressAt_);
    drag->exec(Qt::CopyAction);
}

QPoint paletteSpot(const QRect& screen, const QRect& editor, const QSize& palette) {
    const int gap = 8;
    const QRect right(QPoint(editor.right() + gap, editor.top()), palette);
    if (screen.contains(right)) return right.topLeft();
    const QRect below(QPoint(editor.left(), editor.bottom() + gap), palette);
    if (screen.contains(below)) return below.topLeft();
    return screen.bottomRight() - QPoint(palette.width(), palette.height()) + QPoint(1, 1);
}

void StationPalette::showBeside(const QRect& editorFrame) {
    // The window's own frame counts: its title bar lies above geometry().
    const QSize outer = frameGeometry().size().expandedTo(size());
    QRect screen = QRect(QPoint(0, 0), QSize(1280, 1024));
    if (const QScreen* s = QGuiApplication::screenAt(editorFrame.center()))
        screen = s->availableGeometry();
    else if (const QScreen* primary = QGuiApplication::primaryScreen())
        screen = primary->availableGeometry();
    move(paletteSpot(screen, editorFrame, outer));
    show();
    raise();
}

StationPalette::StationPalette(ToolSession& session, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), session_(session) {
    setObjectName(QStringLiteral("StlToolForm"));
    setWindowTitle(QStringLiteral("ステーションパレット"));
    setAcceptDrops(true);
    auto* base = new QGroupBox(QStringLiteral("Kalvoステーション"), this);
    base->setObjectName(QStringLiteral("pnlKalvoBase"));
    base->setGeometry(6, 6, 230, 110);
    for (int i = 0; i < kStationTypes; ++i) {
        auto* head = new PalettePicture(base, session_, i);
        head->setObjectName(QStringLiteral("ImgHead%1").arg(i));
        head->setGeometry(10 + 36 * i, 36, kStationPictureWidth, kStationPictureHeight);
        head->setAcceptDrops(true);
        head->setToolTip(QString::fromLatin1(stationTypeNames()[size_t(i)].data(),
                                             qsizetype(stationTypeNames()[size_t(i)].size())));
        heads_[i] = head;
        if (i == kStaSub) head->hide();
    }
    resize(255, 150);
    move(0, 480);
}

}  // namespace kalvo::tool::ui
