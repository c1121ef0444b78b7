#include "tool/ui/main_form.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QProcess>
#include <QStandardPaths>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>

#include "tool/ui/board_dialogs.h"
#include "tool/ui/network_editor.h"
#include "tool/ui/station_palette.h"
#include "tool/ui/station_pictures.h"
#include "tool/ui/tool_messages.h"
#include "tool/ui/ui_feedback.h"

namespace kalvo::tool::ui {

MainForm::MainForm(ToolSession& session, const QString& modelTablePath) : session_(session) {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(applicationTitle());
    setWindowIcon(toolIcon(ToolPicture::program));
    mdi_ = new QMdiArea(this);
    mdi_->setBackground(QColor(0x8a, 0x95, 0xa8));
    setCentralWidget(mdi_);
    session_.installedModelTable = modelTablePath.toStdString();

    auto make = [this](const char* name, const QString& caption, const QKeySequence& key,
                       const QString& hint) {
        auto* a = new QAction(caption, this);
        a->setObjectName(QString::fromLatin1(name));
        if (!key.isEmpty()) a->setShortcut(key);
        // A hint's short part is the tool tip, its long part the status bar's.
        const qsizetype bar = hint.indexOf('|');
        if (bar >= 0) {
            a->setToolTip(hint.left(bar));
            a->setStatusTip(hint.mid(bar + 1));
        }
        return a;
    };
    new_ = make("FileNew1", QStringLiteral("新規作成(&N)"), QKeySequence(Qt::CTRL | Qt::Key_N),
                QStringLiteral("新規作成|新しい設定を作成します"));
    new_->setIcon(toolIcon(ToolPicture::newFile));
    open_ = make("FileOpen1", QStringLiteral("開く(&O)..."), QKeySequence(Qt::CTRL | Qt::Key_O),
                 QStringLiteral("開く|既存の設定ファイルを開きます"));
    open_->setIcon(toolIcon(ToolPicture::openFile));
    auto* close = make("FileClose1", QStringLiteral("閉じる(&C)"), {}, {});
    save_ = make("FileSave1", QStringLiteral("上書き保存(&S)"), QKeySequence(Qt::CTRL | Qt::Key_S),
                 QStringLiteral("上書き保存|設定ファイルを保存します"));
    save_->setIcon(toolIcon(ToolPicture::saveFile));
    auto* down =
        make("DownFile", QStringLiteral("ファイル転送(&D)"), QKeySequence(Qt::CTRL | Qt::Key_D),
             QStringLiteral("ファイル転送|KalvoConfig.datをモジュールへ転送します"));
    down->setIcon(toolIcon(ToolPicture::transfer));
    auto* exit = make("FileExit1", QStringLiteral("終了(&X)"), {}, {});
    auto* palette = make("StlTool", QStringLiteral("ステーションツールパレット(&S)"),
                         QKeySequence(Qt::Key_F8), {});
    hard_ = make("HardSet", QStringLiteral("ハードの設定(&H)"), QKeySequence(Qt::Key_F6), {});
    auto* aboutAction = make("HelpAbout1", QStringLiteral("バージョン情報(&A)..."), {}, {});
    // Actions the frame keeps without showing them: the clipboard and MDI
    // window commands, and the older commands that do nothing any more
    // (their shortcuts stay taken so that they never reach the editor).
    for (auto [name, key] : std::initializer_list<std::pair<const char*, QKeySequence>>{
             {"EditCut1", QKeySequence::Cut},
             {"EditCopy1", QKeySequence::Copy},
             {"EditPaste1", QKeySequence::Paste},
             {"TextWindow", QKeySequence(Qt::Key_F12)},
             {"CMSet", QKeySequence(Qt::Key_F5)},
             {"EnviSet", QKeySequence(Qt::Key_F9)},
             {"CMEdSet", QKeySequence(Qt::Key_F10)},
             {"DpramCMSet", {}},
             {"FileMirel", {}},
             {"FileSaveAs1", {}}})
        addAction(make(name, QString::fromLatin1(name), key, {}));
    auto* cascade = make("WindowCascade1", QStringLiteral("Cascade"), {}, {});
    auto* tileH = make("WindowTileHorizontal1", QStringLiteral("Tile"), {}, {});
    auto* tileV = make("WindowTileVertical1", QStringLiteral("Tile"), {}, {});
    auto* minimize = make("WindowMinimizeAll1", QStringLiteral("Minimize"), {}, {});
    auto* arrange = make("WindowArrangeAll1", QStringLiteral("Arrange"), {}, {});
    connect(cascade, &QAction::triggered, mdi_, &QMdiArea::cascadeSubWindows);
    connect(tileH, &QAction::triggered, mdi_, &QMdiArea::tileSubWindows);
    connect(tileV, &QAction::triggered, mdi_, &QMdiArea::tileSubWindows);
    connect(arrange, &QAction::triggered, mdi_, &QMdiArea::tileSubWindows);
    connect(minimize, &QAction::triggered, mdi_, [this] {
        for (QMdiSubWindow* w : mdi_->subWindowList()) w->showMinimized();
    });
    connect(new_, &QAction::triggered, this, &MainForm::fileNew);
    connect(open_, &QAction::triggered, this, &MainForm::fileOpen);
    connect(close, &QAction::triggered, mdi_, &QMdiArea::closeActiveSubWindow);
    connect(save_, &QAction::triggered, this, &MainForm::fileSave);
    connect(down, &QAction::triggered, this, &MainForm::transfer);
    connect(exit, &QAction::triggered, this, &QWidget::close);
    connect(palette, &QAction::triggered, this, [this] {
        palette_->show();
        palette_->raise();
    });
    connect(hard_, &QAction::triggered, this, &MainForm::hardwareSettings);
    connect(aboutAction, &QAction::triggered, this, &MainForm::about);

    QMenu* file = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    file->addActions({new_, open_, close, save_, down});
    file->addSeparator();
    file->addAction(exit);
    menuBar()->addMenu(QStringLiteral("表示(&V)"))->addAction(palette);
    menuBar()->addMenu(QStringLiteral("設定(&C)"))->addAction(hard_);
    menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"))->addAction(aboutAction);
    QToolBar* bar = addToolBar(QStringLiteral("ToolBar1"));
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setMovable(false);
    bar->addActions({new_, open_, save_, down});
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    modelTableLabel_ = new QLabel(statusBar());
    modelTableLabel_->setObjectName(QStringLiteral("ModelTableLabel"));
    statusBar()->addPermanentWidget(modelTableLabel_);
    save_->setEnabled(false);

    palette_ = new StationPalette(session_, this);
    boardSetUp_ = new BoardSetUpDialog(session_, this);
    hardSet_ = new HardSetDialog(session_, this, this);
    // The installed table until a folder brings its own.
    useModelTableOf(std::string());
}

void MainForm::useModelTableOf(const std::string& folder) {
    if (!session_.useModelTableOf(folder)) return;
    modelTableLabel_->setText(QStringLiteral("モデルテーブル: ") +
                              QString::fromStdString(session_.modelTable.Path));
    modelTableLabel_->setToolTip(session_.modelTableText());
    // Without a table every module combo offers nothing: say so, and where
    // it was looked for.
    if (session_.modelSource != ModelTable::Source::loaded)
        showMessage(
            this, QMessageBox::Warning,
            QStringLiteral("モデルテーブルを読み込めません。\n") + session_.modelTableText(),
            QMessageBox::Ok);
}

QAction* MainForm::action(const char* name) const {
    return findChild<QAction*>(QString::fromLatin1(name));
}

void MainForm::fileNew() {
    session_.mode = ToolMode::createNew;
    session_.closingByProgram = false;
    if (boardSetUp_->exec() != QDialog::Rejected && session_.model.boardCount() > 0) {
        useModelTableOf(session_.model.folder());
        openEditor(false);
    }
}

void MainForm::fileOpen() {
    session_.mode = ToolMode::openExisting;
    session_.closingByProgram = false;
    // Every Open that gets past the folder either opens the editor or says
    // why not (whatever an earlier Open left in the board count).
    if (boardSetUp_->exec() != QDialog::Rejected) {
        useModelTableOf(session_.model.folder());
        openEditor(false);
    }
}

bool MainForm::chooseFolderForSave() {
    const ToolMode mode = session_.mode;
    session_.mode = ToolMode::chooseFolder;
    const bool chosen = boardSetUp_->exec() == QDialog::Accepted;
    session_.mode = mode;
    return chosen;
}

void MainForm::openEditor(bool fromMessage) {
    if (editor_) return;  // at most one editor
    // From the hardware settings: their boards, an empty network, and no
    // folder until Save asks for one.
    if (fromMessage) session_.model.startNew(session_.pendingBoards);
    auto* editor = new NetworkEditor(session_, this, fromMessage);
    if (!editor->created() || editor->pageCount() <= 0) {
        // A load that failed said so itself; a folder none of whose boards
        // this tool understands says it here.
        if (editor->created()) {
            QString why;
            for (const QString& p : editor->loadProblems()) why += QStringLiteral("\n") + p;
            showError(this, QStringLiteral("表示できるボードがありません。") + why);
        }
        delete editor;
        session_.model.clearNetwork();
        return;
    }
    session_.closingByProgram = false;
    editor->setFolderChooser([this] { return chooseFolderForSave(); });
    editor_ = editor;
    editorWindow_ = mdi_->addSubWindow(editor);
    editorWindow_->setAttribute(Qt::WA_DeleteOnClose);
    editorWindow_->resize(editor->size() + QSize(8, 30));
    editor->showFolderInCaption();
    editorWindow_->show();
    hardSet_->setEditor(editor);
    palette_->showBeside(QRect(editorWindow_->mapToGlobal(QPoint(0, 0)), editorWindow_->size()));
    if (!editor->loadProblems().isEmpty()) {
        // What the load skipped, and what keeps the folder from being saved.
        const QStringList& problems = editor->loadProblems();
        QString text = QStringLiteral("Kalvo.iniに問題があります (%1):").arg(problems.size());
        for (qsizetype i = 0; i < problems.size() && i < 20; ++i)
            text += QStringLiteral("\n") + problems[i];
        if (problems.size() > 20)
            text += QStringLiteral("\n... and %1 more (kalvo-config check lists them all)")
                        .arg(problems.size() - 20);
        showMessage(this, QMessageBox::Warning, text, QMessageBox::Ok);
    }
    save_->setEnabled(true);
    hard_->setEnabled(true);
    new_->setEnabled(false);
    open_->setEnabled(false);
}

void MainForm::editorGone() {
    session_.closingByProgram = true;
    // The next editor (F6 without New or Open) has no folder: its Save asks,
    // instead of writing over the last one.
    session_.model.setFolder(std::string());
    if (editorWindow_) QMetaObject::invokeMethod(editorWindow_, "close", Qt::QueuedConnection);
    editor_ = nullptr;
    hardSet_->setEditor(nullptr);
    palette_->hide();
    save_->setEnabled(false);
    new_->setEnabled(true);
    open_->setEnabled(true);
}

void MainForm::fileSave() {
    if (editor_) editor_->saveAll();
}

void MainForm::transfer() {
    // KalvoConfig.dat of the open configuration, by its full name, with the
    // transfer program started in the configuration folder.
    const std::string& folder = session_.model.folder();
    if (!editor_ || folder.empty()) {
        statusBar()->showMessage(
            QStringLiteral("転送するKalvoConfig.datがありません: open or save a configuration "
                           "first"));
        return;
    }
    const QString dir = QDir::cleanPath(QString::fromStdString(folder));
    const QString file = dir + QStringLiteral("/KalvoConfig.dat");
    if (!QFileInfo::exists(file)) {
        statusBar()->showMessage(file + QStringLiteral(" does not exist yet: save first (Ctrl+S)"));
        return;
    }
    // The transfer program lies outside this tool: on the PATH, or beside
    // the tool. It is not waited for.
    QString program = QStandardPaths::findExecutable(QStringLiteral("Xfertool"));
    if (program.isEmpty())
        program = QStandardPaths::findExecutable(QStringLiteral("Xfertool"),
                                                 {QCoreApplication::applicationDirPath()});
    if (program.isEmpty()) {
        statusBar()->showMessage(
            QStringLiteral("Xfertool was not found on the PATH nor beside KalvoConfig; install "
                           "the transfer program to send KalvoConfig.dat"));
        return;
    }
    if (!QProcess::startDetached(program, {file}, dir))
        statusBar()->showMessage(program + QStringLiteral(" could not be started"));
}

void MainForm::hardwareSettings() {
    hardSet_->exec();
}

void MainForm::about() {
    QDialog box(this);
    box.setObjectName(QStringLiteral("AboutBox"));
    box.setWindowTitle(QStringLiteral("バージョン情報"));
    auto* layout = new QVBoxLayout(&box);
    auto* picture = new QLabel(&box);
    picture->setPixmap(toolPixmap(ToolPicture::program, 48, devicePixelRatioF()));
    picture->setAlignment(Qt::AlignCenter);
    layout->addWidget(picture);
    auto* title = new QLabel(applicationTitle(), &box);
    title->setAlignment(Qt::AlignCenter);
    layout->addWidget(title);
    auto* version = new QLabel(QStringLiteral("Version 2.50.00"), &box);
    version->setAlignment(Qt::AlignCenter);
    layout->addWidget(version);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
    connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    layout->addWidget(buttons);
    box.exec();
}

bool MainForm::event(QEvent* e) {
    switch (toolMessageOf(e)) {
        case kOpenEditor:
            session_.closingByProgram = true;
            openEditor(true);
            return true;
        case kEditorGone:
            editorGone();
            return true;
        default:
            return QMainWindow::event(e);
    }
}

void MainForm::closeEvent(QCloseEvent* e) {
    if (editor_) {
        beep();
        const auto answer =
            showMessage(this, QMessageBox::Question, QStringLiteral("設定の保存を行ないますか？"),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        if (answer == QMessageBox::Cancel) {
            e->ignore();
            return;
        }
        // A failed save keeps the program running with the network.
        if (answer == QMessageBox::Yes && !editor_->saveAll()) {
            e->ignore();
            return;
        }
        session_.closingByProgram = true;
        editor_->close();
    }
    palette_->close();
    e->accept();
}

}  // namespace kalvo::tool::ui
