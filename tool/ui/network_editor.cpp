#include "tool/ui/network_editor.h"

#include <QCloseEvent>
#include <QProgressBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "tool/model/config_dat.h"
#include "tool/model/configuration_files.h"
#include "tool/model/editor_operations.h"
#include "tool/model/station_layout.h"
#include "tool/ui/line_frame.h"
#include "tool/ui/station_dialog.h"
#include "tool/ui/tool_messages.h"
#include "tool/ui/ui_feedback.h"

namespace kalvo::tool::ui {

NetworkEditor::NetworkEditor(ToolSession& session, QObject* mainWindow, bool fromOpenMessage,
                             QWidget* parent)
    : QWidget(parent), session_(session), main_(mainWindow) {
    setObjectName(QStringLiteral("SeqKalvoForm"));
    setWindowTitle(QStringLiteral("Kalvo - ") + QString::fromStdString(session_.model.folder()));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    pgcKalvo_ = new QTabWidget(this);
    pgcKalvo_->setObjectName(QStringLiteral("pgcKalvo"));
    pgcKalvo_->setDocumentMode(true);
    layout->addWidget(pgcKalvo_, 1);
    statusBar_ = new QStatusBar(this);
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

void NetworkEditor::refresh() {
    for (int i = 0; i < pgcKalvo_->count(); ++i) {
        LineFrame* f = frame(i);
        for (int a = 0; a < kAddresses; ++a) {
            const TStaAddRec& rec = session_.model.at(f->slot(), f->line(), a);
            f->place(a)->setStation(rec.StaType, rec.Head);
        }
    }
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
    switch (dropCurrent(session_.model, slot, line, address)) {
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
    if (ok) {
        TStaAddRec& rec = model.at(slot, line, address);
        if (rec.Head) {
            rec.AddrCount = dialog.addressCount();
            rec.Slot = model.current.Slot;
            rec.Module = model.current.Module;
            const TStaAddRec placed = rec;
            if (!placementCheck(model, slot, line, address, placed, before)) {
                refuseOverlap(placed.StaType);
                model.network() = backup;
            }
        }
    } else {
        model.network() = backup;
    }
    renumber(model);
    refresh();
}

bool NetworkEditor::saveAll() {
    prgBar_->setValue(0);
    bool complete = true;
    const auto result = saveConfiguration(session_.model);
    prgBar_->setValue(60);
    if (!result.FailedFiles.empty()) {
        // Reported although the original tool kept quiet: a configuration
        // that was not written must not look saved.
        QString files;
        for (const std::string& f : result.FailedFiles)
            files += QStringLiteral("\n") + QString::fromStdString(f);
        showError(this, QStringLiteral("Kalvo.iniの書き込みに失敗しました!") + files +
                            QStringLiteral("\nCheck that the folder is writable and the disk "
                                           "has room, then save again."));
        complete = false;
    }
    std::string error;
    if (!writeConfigDat(session_.model, &error)) {
        showError(this, QStringLiteral("KalvoConfig.datの書き込みに失敗しました!\n") +
                            QString::fromStdString(error));
        complete = false;
    }
    prgBar_->setValue(100);
    return complete;
}

void NetworkEditor::applyBoardSettings() {
    const BoardSettings changed = session_.model.boards();
    session_.model.boards() = boards_;
    tool::applyBoardSettings(session_.model, changed);
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
        if (answer == QMessageBox::Yes) saveAll();
    }
    gone_ = true;
    session_.model.clearNetwork();
    postToolMessage(main_, kEditorGone);
    e->accept();
}

}  // namespace kalvo::tool::ui
