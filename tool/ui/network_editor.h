// TSeqKalvoForm: the network editor, an MDI child with one page per board
// line (TKalvoFrame) showing the board, its line and the 32 station places.
// Every change goes through the model's editor operations.
#pragma once

#include <QPointer>
#include <QWidget>

#include "tool/ui/tool_session.h"

class QProgressBar;
class QStatusBar;
class QTabWidget;

namespace kalvo::tool::ui {

class LineFrame;
class StationPicture;

class NetworkEditor : public QWidget {
  public:
    // fromOpenMessage: created for message 1145 (always an empty network).
    // mainWindow receives 1147 when the editor is gone.
    NetworkEditor(ToolSession& session, QObject* mainWindow, bool fromOpenMessage,
                  QWidget* parent = nullptr);

    bool created() const { return created_; }
    int pageCount() const;
    QTabWidget* pages() const { return pgcKalvo_; }
    LineFrame* frame(int page) const;
    StationPicture* place(int page, int address) const;
    QProgressBar* progressBar() const { return prgBar_; }

    // Save as the main window's Save: the configuration files, then
    // KalvoConfig.dat; failures are reported. True when everything was
    // written.
    bool saveAll();

    // Station picture events of the line pages.
    void dropOn(int slot, int line, int address);
    void rightClick(int slot, int line, int address);
    void startDragFrom(int slot, int line, int address);
    // Pictures follow the model.
    void refresh();

  protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

  private:
    ToolSession& session_;
    QPointer<QObject> main_;
    QTabWidget* pgcKalvo_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    QProgressBar* prgBar_ = nullptr;
    BoardSettings boards_{};  // the editor's own copy of the board records
    bool created_ = false;
    bool gone_ = false;
    QPointer<QWidget> stationDialog_;

    void buildPages();
    void applyBoardSettings();
    void refuseOverlap(int32_t staType);
};

}  // namespace kalvo::tool::ui
