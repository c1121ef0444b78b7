#include "tool/ui/network_editor.h"

#include <QCloseEvent>
#include <QProgressBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTime>
#include <QVBoxLayout>

#include "tool/model/configuration_check.h"
#include "tool/model/configuration_files.h"
#include "tool/model/editor_operations.h"
#include "tool/model/folder_save.h"
#include "tool/model/station_layout.h"
#include "tool/model/station_summary.h"
#include "tool/ui/line_frame.h"
#include "tool/ui/station_dialog.h"
#include "tool/ui/tool_messages.h"
#include "tool/ui/ui_feedback.h"

namespace kalvo::tool::ui {

NetworkEditor::NetworkEditor(ToolSession& session, QObject* mainWindow, bool fromOpenMessage,
                             QWidget* parent)
    : QWidget(parent), session_(session), main_(mainWindow) {
    setObjectName(QStringLiteral("SeqKalvoForm"));
    showFolderInCaption();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    pgcKalvo_ = new QTabWidget(this);
    pgcKalvo_->setObjectName(QStringLiteral("pgcKalvo"));
    pgcKalvo_->setDocumentMode(true);
    layout->addWidget(pgcKalvo_, 1);
    statusBar_ = new QStatusBar(this);
    statusBar_->setObjectName(QStringLiteral("StatusBar"));
    statusBar_->setSizeGripEnabled(false);
    prgBar_ = new QProgressBar(statusBar_);
    prgBar_->setObjectName(QStringLiteral("PrgBar"));
    prgBar_->setRange(0, 100);
    prgBar_->setValue(0);
    prgBar_->setMaximumWidth(200);
    prgBar_->setTextVisible(false);
    statusBar_->addPermanentWidget(prgBar_);
    layout->addWidget(statusBar_);

    if (session_.mode == ToolMode::createNew || fromOpenMessage) {
        session_.model.clearNetwork();
    } else {
        const LoadResult r = loadConfiguration(session_.model);
        if (!r.ok()) {
            showError(this, QStringLiteral("Kalvo.iniの読み込みに失敗しました!\n") +
                                QString::fromStdString(r.Message));
            return;  // not created: the main window closes it
        }
        // Everything the check finds in the folder just loaded: what was
        // skipped, and what a save would refuse.
        for (const std::string& p : checkConfiguration(session_.model, r))
            loadProblems_ << QString::fromStdString(p);
    }
    boards_ = session_.model.boards();
    resize(799, 470);
    buildPages();
    created_ = true;
}

int NetworkEditor::pageCount() const {
    return pgcKalvo_->count();
}

LineFrame* NetworkEditor::frame(int page) const {
    return static_cast<LineFrame*>(pgcKalvo_->widget(page));
}

StationPicture* NetworkEditor::place(int page, int address) const {
    LineFrame* f = frame(page);
    return f ? f->place(address) : nullptr;
}

void NetworkEditor::buildPages() {
    while (pgcKalvo_->count() > 0) {
        QWidget* w = pgcKalvo_->widget(0);
        pgcKalvo_->removeTab(0);
        delete w;
    }
    int p = 0;
    for (int b = 0; b < kBoardSlots; ++b) {
        const TBoardSetRec& board = boards_[size_t(b)];
        if (board.BoardNo == 0) continue;
        for (int l = 0; l < std::min(board.LineCount, kLines); ++l, ++p) {
            auto* f = new LineFrame(this, b, l, board.BoardNo, board.Kind, p);
            pgcKalvo_->insertTab(
                p, f, QStringLiteral("BOARD # %1/LINE # %2").arg(board.BoardNo).arg(l + 1));
        }
    }
    refresh();
}

void NetworkEditor::showFolderInCaption() {
    const std::string& folder = session_.model.folder();
    setWindowTitle(QStringLiteral("Kalvo - ") +
                   (folder.empty() ? QStringLiteral("(フォルダ未選択: 保存時に選択します)")
                                   : QString::fromStdString(folder)));
    if (parentWidget()) parentWidget()->setWindowTitle(windowTitle());
}

// A place shows its station's picture with its modules, and says in its
// tooltip what the station holds.
void NetworkEditor::showPlace(int page, int address) {
    LineFrame* f = frame(page);
    const TStaAddRec& rec = session_.model.at(f->slot(), f->line(), address);
    const StationSummary st =
        summarizeStation(session_.model, f->slot(), f->line(), rec.Head ? address : rec.StaAddr);
    QStringList modules;
    for (const ModuleSummary& m : st.Modules) modules << QString::fromStdString(m.Code);
    StationPicture* place = f->place(address);
    // MST stations carry chosen modules; the others' are fixed by their type.
    place->setStation(rec.StaType, rec.Head,
                      rec.Head && rec.StaType == kStaMst ? modules : QStringList());
    if (rec.StaType == kStaNew || st.StaType == kStaNew) {
        place->setToolTip(QStringLiteral("%1: 空き (free)").arg(address));
        return;
    }
    QString tip = QStringLiteral("%1 %2: addresses %3-%4")
                      .arg(QString::fromLatin1(stationTypeNames()[size_t(st.StaType)].data()))
                      .arg(st.First)
                      .arg(st.First)
                      .arg(st.Last);
    if (!rec.Head) tip += QStringLiteral(" (continuation address %1)").arg(address);
    for (size_t m = 0; m < st.Modules.size(); ++m)
        tip += QStringLiteral("\nmodule %1: %2")
                   .arg(m + 1)
                   .arg(QString::fromStdString(st.Modules[m].Label));
    for (const UnitSummary& u : st.Units) {
        QStringList ids;
        for (int id : u.LogicalIds) ids << QString::number(id);
        tip += QStringLiteral("\n%1  %2  logical IDs %3")
                   .arg(QString::fromStdString(u.Section), QString::fromStdString(u.ModelCode),
                        ids.isEmpty() ? QStringLiteral("none") : ids.join(QLatin1Char(',')));
    }
    if (st.RunsPast) tip += QStringLiteral("\nits units reach past address 31");
    place->setToolTip(tip);
}

void NetworkEditor::refresh() {
    for (int i = 0; i < pgcKalvo_->count(); ++i)
        for (int a = 0; a < kAddresses; ++a) showPlace(i, a);
}

void NetworkEditor::startDragFrom(int slot, int line, int address) {
    session_.model.current = session_.model.at(slot, line, address);
}

void NetworkEditor::refuseOverlap(int32_t staType) {
    beep();
    if (staType == kStaMst)
        showError(this, QStringLiteral("IDが重複してしまいます!!"), QMessageBox::Ok);
}

void NetworkEditor::dropOn(int slot, int line, int address) {
    const int32_t type = session_.model.current.StaType;
    const DropResult r = dropCurrent(session_.model, slot, line, address);
    // A refused drop says why where the user looks, besides the beep.
    const std::string why = dropRefusal(session_.model, slot, line, address, r);
    if (!why.empty()) statusBar_->showMessage(QString::fromStdString(why));
    switch (r) {
        case DropResult::onContinuation:
            beep();
            break;
        case DropResult::overlap:
            refuseOverlap(type);
            break;
        default:
            break;
    }
    refresh();
}

void NetworkEditor::rightClick(int slot, int line, int address) {
    ConfigModel& model = session_.model;
    model.current = model.at(slot, line, address);
    const TStaAddRec before = model.current;
    const Network backup = model.network();
    if (before.StaType == kStaNew || !before.Head) return;
    StationDialog dialog(session_, this, slot, line, address, this);
    stationDialog_ = &dialog;
    const bool ok = dialog.exec() == QDialog::Accepted;
    stationDialog_ = nullptr;
    // The dialog's live writes were a preview: the network goes back, and OK
    // makes the change through the model's one rule for it.
    model.network() = backup;
    if (ok) {
        const ModulesOutcome m = setStationModules(model, slot, line, address, dialog.modules());
        if (m.Result == ModulesResult::overlap) {
            statusBar_->showMessage(QString::fromStdString(m.Message));
            refuseOverlap(before.StaType);
        }
    }
    renumber(model);
    refresh();
}

bool NetworkEditor::saveAll() {
    if (session_.model.folder().empty()) {
        if (!chooseFolder_ || !chooseFolder_()) return false;
        showFolderInCaption();
    }
    prgBar_->setRange(0, std::max(1, pageCount() * kAddresses));
    prgBar_->setValue(0);
    const SaveOutcome outcome =
        saveFolder(session_.model, [this](int done, int) { prgBar_->setValue(done); });
    prgBar_->setValue(0);
    if (!outcome.Refused.empty()) {
        QString reasons;
        for (const std::string& r : outcome.Refused)
            reasons += QStringLiteral("\n") + QString::fromStdString(r);
        showError(this, QStringLiteral("保存できません。フォルダは変更されていません。") + reasons);
        statusBar_->showMessage(QStringLiteral("保存できません (not saved)"));
        return false;
    }
    if (!outcome.FailedFiles.empty()) {
        // Reported although the original tool kept quiet: a configuration
        // that was not written must not look saved.
        QString files;
        for (const std::string& f : outcome.FailedFiles)
            files += QStringLiteral("\n") + QString::fromStdString(f);
        showError(this, QStringLiteral("Kalvo.iniの書き込みに失敗しました!") + files +
                            QStringLiteral("\nCheck that the folder is writable and the disk "
                                           "has room, then save again."));
    }
    if (!outcome.DatError.empty())
        showError(this, QStringLiteral("KalvoConfig.datの書き込みに失敗しました!\n") +
                            QString::fromStdString(outcome.DatError));
    const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    statusBar_->showMessage(outcome.ok()
                                ? QStringLiteral("保存しました (saved) %1").arg(time)
                                : QStringLiteral("保存に失敗しました (not saved) %1").arg(time));
    return outcome.ok();
}

void NetworkEditor::applyBoardSettings() {
    tool::applyBoardSettings(session_.model, session_.pendingBoards);
    boards_ = session_.model.boards();
    buildPages();
}

bool NetworkEditor::event(QEvent* e) {
    switch (toolMessageOf(e)) {
        case kApplyBoardSettings:
            applyBoardSettings();
            return true;
        case kRenumberUnits:
            renumber(session_.model);
            postToolMessage(stationDialog_, kReloadStation);
            return true;
        default:
            return QWidget::event(e);
    }
}

void NetworkEditor::closeEvent(QCloseEvent* e) {
    if (gone_) return;
    if (created_ && !session_.closingByProgram) {
        beep();
        const auto answer =
            showMessage(this, QMessageBox::Question, QStringLiteral("設定の保存を行ないますか？"),
                        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        if (answer == QMessageBox::Cancel) {
            e->ignore();
            return;
        }
        // A save that failed keeps the window and its network.
        if (answer == QMessageBox::Yes && !saveAll()) {
            e->ignore();
            return;
        }
    }
    gone_ = true;
    session_.model.clearNetwork();
    postToolMessage(main_, kEditorGone);
    e->accept();
}

}  // namespace kalvo::tool::ui
