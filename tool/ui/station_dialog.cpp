#include "tool/ui/station_dialog.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>

#include "tool/model/editor_operations.h"
#include "tool/ui/bx_string_grid.h"
#include "tool/ui/tool_messages.h"
#include "tool/ui/ui_feedback.h"

namespace kalvo::tool::ui {
namespace {
QString text(const std::string& s) {
    return QString::fromStdString(s);
}
}  // namespace

StationDialog::StationDialog(ToolSession& session, QObject* editor, int slot, int line, int address,
                             QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint),
      session_(session),
      editor_(editor),
      slot_(slot),
      line_(line),
      address_(address) {
    setObjectName(QStringLiteral("KVStlForm"));
    setWindowTitle(QStringLiteral("ステーションの設定"));
    setFixedSize(488, 270);
    auto* label2 = new QLabel(QStringLiteral("ステーションアドレス："), this);
    label2->setGeometry(12, 12, 144, 22);
    pnStaAdd_ = new QLabel(this);
    pnStaAdd_->setObjectName(QStringLiteral("pnStaAdd"));
    pnStaAdd_->setGeometry(158, 12, 48, 22);
    pnStaAdd_->setFrameShape(QFrame::Panel);
    pnStaAdd_->setFrameShadow(QFrame::Sunken);
    pnStaAdd_->setAlignment(Qt::AlignCenter);
    auto* grbUnit = new QGroupBox(QStringLiteral("モジュールの選択"), this);
    grbUnit->setObjectName(QStringLiteral("grbUnit"));
    grbUnit->setGeometry(8, 40, 200, 186);
    auto* heading = new QLabel(QStringLiteral("型式タイプ："), grbUnit);
    heading->setGeometry(90, 20, 100, 18);
    for (int n = 1; n <= kModules; ++n) {
        auto* caption = new QLabel(QStringLiteral("モジュール%1：").arg(n), grbUnit);
        caption->setGeometry(6, 42 + 34 * (n - 1), 84, 24);
        auto* combo = new QComboBox(grbUnit);
        combo->setObjectName(QStringLiteral("cmbUnit%1").arg(n));
        combo->setProperty("Tag", n);
        combo->setGeometry(90, 42 + 34 * (n - 1), 104, 24);
        auto* popup = new QTableView(combo);
        popup->horizontalHeader()->hide();
        popup->verticalHeader()->hide();
        popup->setShowGrid(false);
        popup->setSelectionBehavior(QAbstractItemView::SelectRows);
        popup->horizontalHeader()->setStretchLastSection(true);
        combo->setView(popup);
        cmbUnit_[n - 1] = combo;
        connect(combo, &QComboBox::currentIndexChanged, this, [this, n] {
            if (!filling_) comboChanged(n);
        });
    }
    bsgStl_ = new BxStringGrid(this);
    bsgStl_->setObjectName(QStringLiteral("bsgStl"));
    bsgStl_->setGeometry(216, 12, 264, 214);
    bsgStl_->setRowCount(kSlots + 1);
    bsgStl_->setSelectionBehavior(QAbstractItemView::SelectRows);
    bsgStl_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    bsgStl_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    const char* captions[] = {"SA-Offset", "モジュールタイプ", "Logical ID", ""};
    const int widths[] = {62, 104, 72, 0};
    for (int c = 0; c < 4; ++c) {
        bsgStl_->column(c).setCaption(QString::fromUtf8(captions[c]));
        bsgStl_->column(c).CanEdit = false;
        bsgStl_->column(c).FixAlignment = Qt::AlignHCenter;
        bsgStl_->column(c).Alignment = c == 1 ? Qt::AlignLeft : Qt::AlignHCenter;
        bsgStl_->setColumnWidth(c, widths[c]);
        bsgStl_->setCell(0, c, QString());
    }
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("btnOk"));
    ok->setGeometry(300, 234, 86, 26);
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("キャンセル"), this);
    cancel->setObjectName(QStringLiteral("btnNo"));
    cancel->setGeometry(394, 234, 86, 26);
    connect(ok, &QPushButton::clicked, this, [this] {
        store();
        session_.model.current.AddrCount = addrCount_;
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void StationDialog::fillCombos() {
    const ModelTable& models = session_.models;
    const int32_t type = session_.model.current.StaType;
    for (int n = 1; n <= kModules; ++n) {
        QComboBox* c = cmbUnit_[n - 1];
        // Two columns: the code, which the combo shows, and the model's plain
        // name beside it in the list.
        auto* list = new QStandardItemModel(c);
        for (size_t i = 0; i < models.list().size(); ++i) {
            if (!moduleOffered(models, type, n, int32_t(i))) continue;
            const TStlInfoRec& e = models.list()[i];
            auto* code = new QStandardItem(text(e.ModelCode));
            code->setData(int(i), Qt::UserRole);
            const QString name = i == 0 || e.Info.Name == "--" ? QString() : text(e.Info.Name);
            code->setToolTip(name);
            list->appendRow({code, new QStandardItem(name)});
        }
        c->setModel(list);  // the combo deletes its old model, which it owned
        c->setModelColumn(0);
        auto* view = qobject_cast<QTableView*>(c->view());
        view->resizeColumnsToContents();
        view->setMinimumWidth(view->horizontalHeader()->length() + 24);
        c->setCurrentIndex(0);
        c->setEnabled(n == 1);
    }
}

int32_t StationDialog::modelOf(int n) const {
    const QComboBox* c = cmbUnit_[n - 1];
    return c->currentIndex() <= 0 ? 0 : c->currentData(Qt::UserRole).toInt();
}

std::array<int32_t, kModules> StationDialog::modules() const {
    std::array<int32_t, kModules> modules{};
    for (int n = 1; n <= kModules; ++n) modules[size_t(n - 1)] = modelOf(n);
    return modules;
}

void StationDialog::showEvent(QShowEvent* e) {
    filling_ = true;
    addrCount_ = 1;
    bsgStl_->setColumnHidden(3, true);
    bsgStl_->scrollToTop();
    fillCombos();
    const TStaAddRec& st = session_.model.current;
    pnStaAdd_->setText(QString::number(st.StaAddr));
    for (int n = 1; n <= kModules; ++n) {
        QComboBox* c = cmbUnit_[n - 1];
        const QString code = text(session_.models.entry(st.Module[size_t(n - 1)]).ModelCode);
        c->setCurrentIndex(st.Module[size_t(n - 1)] > 0
                               ? c->findData(int(st.Module[size_t(n - 1)]), Qt::UserRole)
                               : 0);
        if (c->currentIndex() > 0 && code != text(std::string(kLastModule))) {
            c->setEnabled(true);
            if (n < kModules) cmbUnit_[n]->setEnabled(true);
        }
    }
    if (st.StaType >= kStaAxs2 && st.StaType <= kStaRfid3)
        for (QComboBox* c : cmbUnit_) c->setEnabled(false);
    filling_ = false;
    layOut();
    store();
    QDialog::showEvent(e);
}

bool StationDialog::layOut() {
    const StationRows rows = layoutRows(session_.models, modules());
    if (!rows.Ok) {
        beep();
        showError(this, QStringLiteral("IDの設定が範囲を超えてしまいます!!"), QMessageBox::Ok);
        return false;
    }
    rows_ = rows;
    for (int r = 1; r <= kSlots; ++r) {
        const StationRow& row = rows_.Rows[size_t(r - 1)];
        bsgStl_->setCell(r, 0, QString::number(r - 1));
        bsgStl_->setCell(r, 1, text(row.Name));
        bsgStl_->setCell(r, 2, QString());
        bsgStl_->setCell(r, 3, QString::number(row.Index));
    }
    addrCount_ = rows_.AddrCount;
    return true;
}

void StationDialog::store() {
    // The live view: the network shows the chosen modules at once, so the
    // editor's renumbering fills the grid's numbers (1128, then 1129).
    previewStationModules(session_.model, slot_, line_, address_, rows_, modules());
    session_.model.current = session_.model.at(slot_, line_, address_);
    postToolMessage(editor_, kRenumberUnits);
}

void StationDialog::resetFrom(int n) {
    filling_ = true;
    for (int k = n; k < kModules; ++k) {
        cmbUnit_[k]->setCurrentIndex(0);
        cmbUnit_[k]->setEnabled(false);
    }
    filling_ = false;
}

void StationDialog::comboChanged(int n) {
    if (session_.model.current.StaType != kStaMst) return;
    QComboBox* c = cmbUnit_[n - 1];
    if (n < kModules) {
        if (c->currentIndex() > 0 && c->currentText() != text(std::string(kLastModule)))
            cmbUnit_[n]->setEnabled(true);
        else
            resetFrom(n);
    }
    if (!layOut()) {
        filling_ = true;
        c->setCurrentIndex(0);
        filling_ = false;
        resetFrom(n);
        layOut();
    }
    store();
}

void StationDialog::showSequence() {
    session_.model.current = session_.model.at(slot_, line_, address_);
    for (int r = 1; r <= kSlots; ++r) {
        const int32_t seq = session_.model.current.Slot[size_t(r - 1)].Seq;
        bsgStl_->setCell(r, 2, seq > 0 ? QString::number(seq) : QString());
    }
}

bool StationDialog::event(QEvent* e) {
    if (toolMessageOf(e) == kReloadStation) {
        showSequence();
        return true;
    }
    return QDialog::event(e);
}

}  // namespace kalvo::tool::ui
