// TStlToolForm: the station palette, a stay-on-top tool window from which
// station types are dragged into the network editor.
#pragma once

#include <QPoint>
#include <QStringList>
#include <QWidget>

#include "tool/ui/tool_session.h"

namespace kalvo::tool::ui {

// Where a tool window of size palette goes on screen so that it does not
// cover the editor: to its right, else below it, else in the screen's
// bottom right corner, always inside screen.
QPoint paletteSpot(const QRect& screen, const QRect& editor, const QSize& palette);

inline constexpr char kStationMime[] = "application/x-kalvo-station";

// A station picture (head or continuation of a type), painted at any scale.
class StationPicture : public QWidget {
  public:
    StationPicture(QWidget* parent, int staType, bool head);
    int staType() const { return staType_; }
    bool head() const { return head_; }
    // modules: the model codes a head shows on its picture (at most four).
    void setStation(int staType, bool head, const QStringList& modules = {});
    const QStringList& modules() const { return modules_; }

  protected:
    void paintEvent(QPaintEvent*) override;
    // Starts a drag once the mouse moved far enough with the left button.
    void mouseMoveEvent(QMouseEvent* e) override;
    QPoint pressAt_;
    bool pressed_ = false;

  private:
    int staType_;
    bool head_;
    QStringList modules_;
};

class StationPalette : public QWidget {
  public:
    explicit StationPalette(ToolSession& session, QWidget* parent = nullptr);
    // The head picture of a station type (Tag = type); SUB's is hidden.
    StationPicture* headPicture(int staType) const { return heads_[staType]; }
    // Shows the palette beside the editor window editorFrame (global
    // coordinates) rather than over it.
    void showBeside(const QRect& editorFrame);

  private:
    ToolSession& session_;
    StationPicture* heads_[kStationTypes] = {};
};

}  // namespace kalvo::tool::ui
