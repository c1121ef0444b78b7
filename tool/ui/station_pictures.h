// The station, board and tool pictures, painted in code so that they stay
// sharp at every screen scaling.
#pragma once

#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QRectF>
#include <QStringList>

namespace kalvo::tool::ui {

inline constexpr int kStationPictureWidth = 32;
inline constexpr int kStationPictureHeight = 64;
inline constexpr int kBoardPictureWidth = 91;
inline constexpr int kBoardPictureHeight = 58;

// The head picture (head true) or continuation picture of a station type;
// NEW's is the empty place. A head with modules shows each one's model code
// (without its series prefix) on a plate of its own.
void paintStation(QPainter& p, const QRectF& r, int staType, bool head,
                  const QStringList& modules = {});
// The picture of a board kind (row of the board-kind table); row 0 none.
void paintBoard(QPainter& p, const QRectF& r, int kind);

enum class ToolPicture { newFile, openFile, saveFile, transfer, program };
QIcon toolIcon(ToolPicture which);
QPixmap toolPixmap(ToolPicture which, int size, qreal scale);

}  // namespace kalvo::tool::ui
