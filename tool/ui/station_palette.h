// TStlToolForm: the station palette, a stay-on-top tool window from which
// station types are dragged into the network editor.
#pragma once

#include <QPoint>
#include <QWidget>

#include "tool/ui/tool_session.h"

namespace kalvo::tool::ui {

inline constexpr char kStationMime[] = "application/x-kalvo-station";

// A station picture (head or continuation of a type), painted at any scale.
class StationPicture : public QWidget {
  public:
    StationPicture(QWidget* parent, int staType, bool head);
    int staType() const { return staType_; }
    bool head() const { return head_; }
    void setStation(int staType, bool head);

  protected:
    void paintEvent(QPaintEvent*) override;
    // Starts a drag once the mouse moved far enough with the left button.
    void mouseMoveEvent(QMouseEvent* e) override;
    QPoint pressAt_;
    bool pressed_ = false;

  private:
    int staType_;
    bool head_;
};

class StationPalette : public QWidget {
  public:
    explicit StationPalette(ToolSession& session, QWidget* parent = nullptr);
    // The head picture of a station type (Tag = type); SUB's is hidden.
    StationPicture* headPicture(int staType) const { return heads_[staType]; }

  private:
    ToolSession& session_;
    StationPicture* heads_[kStationTypes] = {};
};

}  // namespace kalvo::tool::ui
