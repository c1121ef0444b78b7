// TSeqKalvoForm: the network editor, an MDI child with one page per board
// line (TKalvoFrame) showing the board, its line and the 32 station places.
// Every change goes through the model's editor operations.
#pragma once

#include <functional>

#include <QPointer>
#include <QStringList>
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
    // What the load of the folder skipped or found wrong, one line each
    // (empty for a new network).
    const QStringList& loadProblems() const { return loadProblems_; }
    QStatusBar* statusBar() const { return statusBar_; }
    // Asked by Save when the editor has no folder yet (an editor opened from
    // the hardware settings): true once one was chosen.
    void setFolderChooser(std::function<bool()> choose) { chooseFolder_ = std::move(choose); }
    // "Kalvo - " and the folder (or that none is chosen yet).
    void showFolderInCaption();
    int pageCount() const;
    QTabWidget* pages() const { return pgcKalvo_; }
    LineFrame* frame(int page) const;
    StationPicture* place(int page, int address) const;
    QProgressBar* progressBar() const { return prgBar_; }

    // Save as the main window's Save: a folder asked for when there is none,
    // then the configuration files and KalvoConfig.dat, or the reasons why
    // not. Failures are reported. True when everything was written.
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
    QStringList loadProblems_;
    std::function<bool()> chooseFolder_;

    void buildPages();
    void applyBoardSettings();
    void refuseOverlap(int32_t staType);
    void showPlace(int page, int address);
};

}  // namespace kalvo::tool::ui
