// TBoardSetUpForm (the folder and board wizard of New and Open) and
// THardSetForm (the board settings of the open configuration).
#pragma once

#include <QDialog>
#include <QPointer>

#include "tool/ui/tool_session.h"

class QComboBox;
class QFileSystemModel;
class QLineEdit;
class QListView;
class QPushButton;
class QTreeView;

namespace kalvo::tool::ui {

// The four board rows both dialogs show.
struct BoardRows {
    QComboBox* board[kBoardSlots] = {};
    QComboBox* baud[kBoardSlots] = {};
    QComboBox* longFrame[kBoardSlots] = {};
    void build(QWidget* parent, int top);
    void reset();
    // Baud and long-frame combos enabled by the chosen kind's LineSettings.
    void followKind(int slot);
};

class BoardSetUpDialog : public QDialog {
  public:
    BoardSetUpDialog(ToolSession& session, QWidget* parent = nullptr);
    BoardRows& rows() { return rows_; }
    QComboBox* drives() const { return driveCombo_; }
    QPushButton* button(const char* name) const;
    QString directory() const { return directory_; }
    // What choosing a folder in the directory list does.
    void setDirectory(const QString& path);
    void next();
    void back();
    void confirm();
    QTreeView* directoryList() const { return dirList_; }

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    // Whether a save of boards into the chosen folder may replace the files
    // there (asked, naming them, when any exists).
    bool replaceAsked(const BoardSettings& boards);

    ToolSession& session_;
    QWidget* pnProject_ = nullptr;
    QWidget* pnBoard_ = nullptr;
    QComboBox* driveCombo_ = nullptr;
    QTreeView* dirList_ = nullptr;
    QListView* fileList_ = nullptr;
    QFileSystemModel* dirModel_ = nullptr;
    QFileSystemModel* fileModel_ = nullptr;
    QLineEdit* editDir_ = nullptr;
    QPushButton *btnPrev_ = nullptr, *btnNext_ = nullptr, *btnOk_ = nullptr;
    BoardRows rows_;
    QString directory_;
};

class HardSetDialog : public QDialog {
  public:
    // editor: the open editor window or null; mainWindow gets 1145 and 1147.
    HardSetDialog(ToolSession& session, QObject* mainWindow, QWidget* parent = nullptr);
    void setEditor(QObject* editor) { editor_ = editor; }
    BoardRows& rows() { return rows_; }
    void confirm();
    void done(int result) override;

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    ToolSession& session_;
    QPointer<QObject> main_;
    QPointer<QObject> editor_;
    BoardRows rows_;
    bool accepted_ = false;
    bool loading_ = false;
    void boardChanged(int slot);
};

}  // namespace kalvo::tool::ui
