// TMainForm: the frame window of KalvoConfig: menus, tool bar, status bar
// and the MDI area holding at most one network editor.
#pragma once

#include <QMainWindow>
#include <QPointer>

#include "tool/ui/network_editor.h"
#include "tool/ui/tool_session.h"

class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;

namespace kalvo::tool::ui {

class BoardSetUpDialog;
class HardSetDialog;
class StationPalette;

class MainForm : public QMainWindow {
  public:
    // installedModelTable: the model table of folders without their own.
    MainForm(ToolSession& session, const QString& installedModelTable);

    QAction* action(const char* name) const;
    NetworkEditor* editor() const { return editor_; }
    StationPalette* palette() const { return palette_; }
    BoardSetUpDialog* boardSetUp() const { return boardSetUp_; }
    HardSetDialog* hardSet() const { return hardSet_; }
    QMdiArea* mdiArea() const { return mdi_; }

    void fileNew();
    void fileOpen();
    void fileSave();
    void transfer();
    void hardwareSettings();
    void about();

  protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

  private:
    ToolSession& session_;
    QMdiArea* mdi_ = nullptr;
    QPointer<NetworkEditor> editor_;
    QPointer<QMdiSubWindow> editorWindow_;
    StationPalette* palette_ = nullptr;
    BoardSetUpDialog* boardSetUp_ = nullptr;
    HardSetDialog* hardSet_ = nullptr;
    QAction *new_ = nullptr, *open_ = nullptr, *save_ = nullptr, *hard_ = nullptr;

    QLabel* modelTableLabel_ = nullptr;

    void openEditor(bool fromMessage);
    void editorGone();
    // The model table of a folder (its own, else the installed one), shown
    // in the status bar; a table that cannot be read is said at once.
    void useModelTableOf(const std::string& folder);
    bool chooseFolderForSave();
};

}  // namespace kalvo::tool::ui
