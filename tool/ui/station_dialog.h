// TKVStlForm: the station settings dialog: the up to four modules of a
// placed station and how their units fall on its 16 logical IDs. Every
// change is written into the network at once and the editor renumbers.
#pragma once

#include <QDialog>
#include <QPointer>

#include "tool/model/station_layout.h"
#include "tool/ui/tool_session.h"

class QComboBox;
class QLabel;

namespace kalvo::tool::ui {

class BxStringGrid;

class StationDialog : public QDialog {
  public:
    StationDialog(ToolSession& session, QObject* editor, int slot, int line, int address,
                  QWidget* parent = nullptr);

    QComboBox* combo(int n) const { return cmbUnit_[n - 1]; }
    BxStringGrid* grid() const { return bsgStl_; }
    int addressCount() const { return addrCount_; }
    // The model-list indexes the combos hold, module 1 to 4 (0: none).
    std::array<int32_t, kModules> modules() const;

  protected:
    void showEvent(QShowEvent* e) override;
    bool event(QEvent* e) override;

  private:
    ToolSession& session_;
    QPointer<QObject> editor_;
    int slot_, line_, address_;
    QLabel* pnStaAdd_ = nullptr;
    QComboBox* cmbUnit_[kModules] = {};
    BxStringGrid* bsgStl_ = nullptr;
    StationRows rows_;
    int addrCount_ = 1;
    bool filling_ = false;

    void fillCombos();
    bool layOut();
    int32_t modelOf(int n) const;
    void store();
    void comboChanged(int n);
    void showSequence();
    void resetFrom(int n);
};

}  // namespace kalvo::tool::ui
