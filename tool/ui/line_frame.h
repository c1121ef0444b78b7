// TKalvoFrame: one board line of the network editor: the board picture,
// the connector down to the line, the drop lines and the 32 station places.
#pragma once

#include <QLabel>
#include <QWidget>

#include "tool/model/model_types.h"
#include "tool/ui/station_palette.h"

namespace kalvo::tool::ui {

class NetworkEditor;

// Station place geometry of address a (row a div 16, column a mod 16).
QRect stationPlaceRect(int address);
QRect addressLabelRect(int address);

class LineFrame : public QWidget {
  public:
    LineFrame(NetworkEditor* editor, int slot, int line, int boardNo, int kind, int page);
    int slot() const { return slot_; }
    int line() const { return line_; }
    void setKind(int kind);
    StationPicture* place(int address) const { return places_[address]; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    NetworkEditor* editor_;
    int slot_, line_, kind_;
    StationPicture* places_[kAddresses] = {};
};

}  // namespace kalvo::tool::ui
