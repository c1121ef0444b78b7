#include "tool/ui/board_dialogs.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QStorageInfo>
#include <QTabWidget>
#include <QTreeView>

#include "tool/model/editor_operations.h"
#include "tool/model/folder_save.h"
#include "tool/ui/tool_messages.h"
#include "tool/ui/ui_feedback.h"

namespace kalvo::tool::ui {
namespace {

const TBoardRec& kindOf(QComboBox* c) {
    const int k = std::clamp(c->currentIndex(), 0, kBoardKinds - 1);
    return boardKinds()[size_t(k)];
}

QLabel* label(QWidget* parent, const QString& text, int x, int y, int w) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(x, y, w, 20);
    return l;
}

}  // namespace

void BoardRows::build(QWidget* parent, int top) {
    label(parent, QStringLiteral("ボードの種類："), 44, top, 180);
    label(parent, QStringLiteral("ボーレート："), 250, top, 100);
    label(parent, QStringLiteral("LF："), 370, top, 60);
    for (int n = 1; n <= kBoardSlots; ++n) {
        const int y = top + 26 + 34 * (n - 1);
        label(parent, QStringLiteral("%1").arg(n), 24, y + 2, 16);
        auto* b = new QComboBox(parent);
        b->setObjectName(QStringLiteral("cmbBoard%1").arg(n));
        b->setProperty("Tag", n);
        b->setGeometry(44, y, 196, 24);
        for (const TBoardRec& k : boardKinds())
            b->addItem(QString::fromUtf8(k.Caption.data(), qsizetype(k.Caption.size())));
        auto* baud = new QComboBox(parent);
        baud->setObjectName(QStringLiteral("cmbBaudrate%1_1").arg(n));
        baud->setGeometry(250, y, 108, 24);
        baud->addItems(
            {QStringLiteral("3 Mbps"), QStringLiteral("6 Mbps"), QStringLiteral("12 Mbps")});
        auto* lf = new QComboBox(parent);
        lf->setObjectName(QStringLiteral("cmbLongFrame%1_1").arg(n));
        lf->setGeometry(370, y, 60, 24);
        lf->addItems({QStringLiteral("0"), QStringLiteral("1")});
        board[n - 1] = b;
        this->baud[n - 1] = baud;
        longFrame[n - 1] = lf;
    }
}

void BoardRows::reset() {
    for (int i = 0; i < kBoardSlots; ++i) {
        board[i]->setCurrentIndex(0);
        baud[i]->setCurrentIndex(0);
        baud[i]->setEnabled(false);
        longFrame[i]->setCurrentIndex(0);
        longFrame[i]->setEnabled(false);
    }
}

void BoardRows::followKind(int slot) {
    const bool settable = kindOf(board[slot]).LineSettings == 1;
    baud[slot]->setEnabled(settable);
    longFrame[slot]->setEnabled(settable);
}

BoardSetUpDialog::BoardSetUpDialog(ToolSession& session, QWidget* parent)
    : QDialog(parent), session_(session) {
    setObjectName(QStringLiteral("BoardSetUpForm"));
    setWindowTitle(QStringLiteral("ツール初期設定"));
    setFixedSize(523, 366);
    pnProject_ = new QWidget(this);
    pnProject_->setObjectName(QStringLiteral("pnProject"));
    pnProject_->setGeometry(0, 0, 523, 316);
    label(pnProject_, QStringLiteral("設定ファイルのフォルダを選択して下さい"), 16, 10, 480);
    label(pnProject_, QStringLiteral("ドライブ："), 16, 38, 100);
    driveCombo_ = new QComboBox(pnProject_);
    driveCombo_->setObjectName(QStringLiteral("DriveComboBox1"));
    driveCombo_->setGeometry(16, 58, 240, 24);
    for (const QStorageInfo& v : QStorageInfo::mountedVolumes())
        if (v.isValid() && v.isReady() && driveCombo_->findText(v.rootPath()) < 0)
            driveCombo_->addItem(v.rootPath());
    label(pnProject_, QStringLiteral("ディレクトリ："), 16, 88, 200);
    dirModel_ = new QFileSystemModel(this);
    dirModel_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    dirModel_->setRootPath(QStringLiteral("/"));
    dirList_ = new QTreeView(pnProject_);
    dirList_->setObjectName(QStringLiteral("DirectoryListBox1"));
    dirList_->setModel(dirModel_);
    for (int c = 1; c < dirModel_->columnCount(); ++c) dirList_->hideColumn(c);
    dirList_->setHeaderHidden(true);
    dirList_->setGeometry(16, 108, 240, 150);
    label(pnProject_, QStringLiteral("ファイル："), 270, 38, 200);
    fileModel_ = new QFileSystemModel(this);
    fileModel_->setFilter(QDir::Files);
    fileModel_->setNameFilters({QStringLiteral("*.*")});
    fileModel_->setNameFilterDisables(false);
    fileList_ = new QListView(pnProject_);
    fileList_->setObjectName(QStringLiteral("FileListBox1"));
    fileList_->setModel(fileModel_);
    fileList_->setGeometry(270, 58, 237, 200);
    label(pnProject_, QStringLiteral("ディレクトリ名："), 16, 266, 120);
    editDir_ = new QLineEdit(pnProject_);
    editDir_->setObjectName(QStringLiteral("EditDir"));
    editDir_->setReadOnly(true);
    editDir_->setGeometry(136, 264, 371, 24);
    connect(driveCombo_, &QComboBox::currentTextChanged, this, [this](const QString& root) {
        dirList_->setRootIndex(dirModel_->index(root));
        setDirectory(root);
    });
    // The highlighted folder is the chosen one, however it was reached: a
    // click, the arrow keys, or typing the start of its name.
    connect(dirList_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& i) {
                if (i.isValid()) setDirectory(dirModel_->filePath(i));
            });

    pnBoard_ = new QWidget(this);
    pnBoard_->setObjectName(QStringLiteral("pnBoard"));
    pnBoard_->setGeometry(0, 0, 523, 316);
    label(pnBoard_, QStringLiteral("使用するボードの設定をして下さい"), 16, 10, 480);
    rows_.build(pnBoard_, 50);
    for (int i = 0; i < kBoardSlots; ++i)
        connect(rows_.board[i], &QComboBox::currentIndexChanged, this,
                [this, i] { rows_.followKind(i); });

    btnPrev_ = new QPushButton(QStringLiteral("< 戻る"), this);
    btnPrev_->setObjectName(QStringLiteral("btnPrev"));
    btnPrev_->setGeometry(170, 326, 80, 28);
    btnNext_ = new QPushButton(QStringLiteral("次へ >"), this);
    btnNext_->setObjectName(QStringLiteral("btnNext"));
    btnNext_->setGeometry(252, 326, 80, 28);
    btnOk_ = new QPushButton(QStringLiteral("OK"), this);
    btnOk_->setObjectName(QStringLiteral("btnOk"));
    btnOk_->setGeometry(342, 326, 80, 28);
    btnOk_->setDefault(true);
    auto* btnNo = new QPushButton(QStringLiteral("キャンセル"), this);
    btnNo->setObjectName(QStringLiteral("btnNo"));
    btnNo->setGeometry(428, 326, 80, 28);
    connect(btnPrev_, &QPushButton::clicked, this, &BoardSetUpDialog::back);
    connect(btnNext_, &QPushButton::clicked, this, &BoardSetUpDialog::next);
    connect(btnOk_, &QPushButton::clicked, this, &BoardSetUpDialog::confirm);
    connect(btnNo, &QPushButton::clicked, this, &QDialog::reject);
    setDirectory(QDir::currentPath());
}

QPushButton* BoardSetUpDialog::button(const char* name) const {
    return findChild<QPushButton*>(QString::fromLatin1(name));
}

void BoardSetUpDialog::setDirectory(const QString& path) {
    const QString clean = QDir::cleanPath(path);
    if (clean == directory_) return;
    directory_ = clean;
    editDir_->setText(directory_);
    const QModelIndex i = dirModel_->index(directory_);
    if (dirList_->currentIndex() != i) dirList_->setCurrentIndex(i);
    fileModel_->setRootPath(directory_);
    fileList_->setRootIndex(fileModel_->index(directory_));
}

void BoardSetUpDialog::showEvent(QShowEvent* e) {
    rows_.reset();
    pnProject_->show();
    pnBoard_->hide();
    btnPrev_->setEnabled(false);
    // Open and the choice of a folder for Save end on the folder page.
    const bool folderOnly = session_.mode != ToolMode::createNew;
    btnNext_->setEnabled(!folderOnly);
    btnOk_->setEnabled(folderOnly);
    setResult(QDialog::Rejected);
    QDialog::showEvent(e);
}

void BoardSetUpDialog::next() {
    if (!pnProject_->isVisible()) return;
    pnProject_->hide();
    pnBoard_->show();
    btnNext_->setEnabled(false);
    btnPrev_->setEnabled(true);
    btnOk_->setEnabled(true);
    session_.model.setFolder((directory_ + QStringLiteral("/")).toStdString());
}

void BoardSetUpDialog::back() {
    if (!pnBoard_->isVisible()) return;
    pnProject_->show();
    pnBoard_->hide();
    btnNext_->setEnabled(true);
    btnOk_->setEnabled(false);
}

bool BoardSetUpDialog::replaceAsked(const BoardSettings& boards) {
    const std::vector<std::string> files =
        filesASaveReplaces((directory_ + QStringLiteral("/")).toStdString(), boards);
    if (files.empty()) return true;
    QString names;
    for (const std::string& f : files) names += QStringLiteral("\n  ") + QString::fromStdString(f);
    beep();
    const auto answer = showMessage(
        this, QMessageBox::Warning,
        QStringLiteral(
            "このフォルダには既に設定があります。保存すると次のファイルが置き換わります:") +
            names + QStringLiteral("\n\n") + directory_ +
            QStringLiteral(" already holds a configuration; saving here replaces the files "
                           "above.\nUse this folder anyway?"),
        QMessageBox::Yes | QMessageBox::No);
    return answer == QMessageBox::Yes;
}

void BoardSetUpDialog::confirm() {
    ConfigModel& model = session_.model;
    if (session_.mode == ToolMode::chooseFolder) {
        if (!replaceAsked(model.boards())) return;  // another folder, or Cancel
        model.setFolder((directory_ + QStringLiteral("/")).toStdString());
        accept();
        return;
    }
    model.boards() = BoardSettings{};
    if (session_.mode == ToolMode::openExisting) {
        model.setFolder((directory_ + QStringLiteral("/")).toStdString());
        if (!QFileInfo::exists(directory_ + QStringLiteral("/Kalvo.ini"))) {
            beep();
            model.setBoardCount(-1);
            showError(this, QStringLiteral("Iniファイルが存在しません!\n") + directory_ +
                                QStringLiteral("/Kalvo.ini"));
            reject();
            return;
        }
        accept();
        return;
    }
    std::array<int32_t, kBoardSlots> kinds{};
    std::array<TLineSetRec, kBoardSlots> lines{};
    for (int j = 0; j < kBoardSlots; ++j) {
        kinds[size_t(j)] = rows_.board[j]->currentIndex();
        lines[size_t(j)] = {baudFromItem(rows_.baud[j]->currentIndex(), 0),
                            rows_.longFrame[j]->currentIndex()};
    }
    const BoardSettings boards = boardSettingsFromKinds(kinds, lines);
    int32_t count = 0;
    for (const TBoardSetRec& b : boards) count += b.BoardNo != 0;
    if (count == 0) {
        beep();
        showError(this, QStringLiteral("ボードの設定が正しくありません!"));
        return;
    }
    // An empty network whose Save would replace a configuration: only when
    // the user says so; otherwise back to the folder.
    if (!replaceAsked(boards)) {
        back();
        return;
    }
    model.boards() = boards;
    model.setBoardCount(count);
    model.setFolder((directory_ + QStringLiteral("/")).toStdString());
    accept();
}

HardSetDialog::HardSetDialog(ToolSession& session, QObject* mainWindow, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint), session_(session), main_(mainWindow) {
    setObjectName(QStringLiteral("HardSetForm"));
    setWindowTitle(QStringLiteral("ボードの設定"));
    setFixedSize(527, 340);
    auto* tabs = new QTabWidget(this);
    tabs->setGeometry(8, 8, 511, 280);
    auto* page = new QWidget;
    tabs->addTab(page, QStringLiteral("ボード"));
    rows_.build(page, 16);
    for (int i = 0; i < kBoardSlots; ++i)
        connect(rows_.board[i], &QComboBox::currentIndexChanged, this, [this, i] {
            if (!loading_) boardChanged(i);
        });
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("btnOk"));
    ok->setGeometry(346, 300, 80, 28);
    ok->setDefault(true);
    auto* no = new QPushButton(QStringLiteral("キャンセル"), this);
    no->setObjectName(QStringLiteral("btnNo"));
    no->setGeometry(432, 300, 80, 28);
    connect(ok, &QPushButton::clicked, this, &HardSetDialog::confirm);
    connect(no, &QPushButton::clicked, this, &QDialog::reject);
}

void HardSetDialog::showEvent(QShowEvent* e) {
    loading_ = true;
    rows_.reset();
    for (int i = 0; i < kBoardSlots; ++i) {
        const TBoardSetRec& b = session_.model.boards()[size_t(i)];
        if (b.Kind <= 0 || b.Kind >= kBoardKinds || boardKinds()[size_t(b.Kind)].LineMax <= 0)
            continue;
        rows_.board[i]->setCurrentIndex(b.Kind);
        rows_.followKind(i);
        const int baud = baudItem(b.Line[0].Baudrate);
        if (baud >= 0) rows_.baud[i]->setCurrentIndex(baud);
        if (b.Line[0].LongFrame == 0 || b.Line[0].LongFrame == 1)
            rows_.longFrame[i]->setCurrentIndex(b.Line[0].LongFrame);
    }
    loading_ = false;
    accepted_ = false;
    setResult(QDialog::Rejected);
    QDialog::showEvent(e);
}

void HardSetDialog::boardChanged(int slot) {
    if (kindOf(rows_.board[slot]).LineMax < 1) {
        std::array<int32_t, kBoardSlots> kinds{};
        for (int i = 0; i < kBoardSlots; ++i) kinds[size_t(i)] = rows_.board[i]->currentIndex();
        const std::vector<int> later = laterBoardsInUse(kinds, slot);
        for (int i : later) {
            beep();
            showError(this, QStringLiteral("ボード%1が存在する為、").arg(i + 1) +
                                QStringLiteral("\r") +
                                QStringLiteral("このボードを未使用にはできません! "));
        }
        if (!later.empty()) {
            loading_ = true;
            rows_.board[slot]->setCurrentIndex(
                std::clamp(session_.model.boards()[size_t(slot)].Kind, 0, kBoardKinds - 1));
            loading_ = false;
        }
    }
    rows_.followKind(slot);
}

void HardSetDialog::confirm() {
    std::array<int32_t, kBoardSlots> kinds{};
    std::array<TLineSetRec, kBoardSlots> lines{};
    for (int j = 0; j < kBoardSlots; ++j) {
        const TLineSetRec& old = session_.model.boards()[size_t(j)].Line[0];
        kinds[size_t(j)] = rows_.board[j]->currentIndex();
        lines[size_t(j)] = {baudFromItem(rows_.baud[j]->currentIndex(), old.Baudrate),
                            rows_.longFrame[j]->currentIndex()};
    }
    const BoardSettings boards = boardSettingsFromDialog(session_.model, kinds, lines);
    if (std::none_of(boards.begin(), boards.end(), [](auto& b) { return b.BoardNo != 0; })) {
        beep();
        showError(this, QStringLiteral("ボードの設定が正しくありません!"));
        return;
    }
    // Handed over, not written into the model: the editor (or the main
    // window opening one) applies them.
    session_.pendingBoards = boards;
    accepted_ = true;
    accept();
}

void HardSetDialog::done(int result) {
    if (result == QDialog::Accepted && !accepted_) return;  // refused by the check
    QDialog::done(result);
    if (result != QDialog::Accepted) return;
    int32_t count = 0;
    for (const TBoardSetRec& b : session_.pendingBoards) count += b.BoardNo != 0;
    if (editor_) postToolMessage(editor_, kApplyBoardSettings);
    if (count > 0 && !editor_) postToolMessage(main_, kOpenEditor);
    if (count == 0 && editor_) postToolMessage(main_, kEditorGone);
}

}  // namespace kalvo::tool::ui
