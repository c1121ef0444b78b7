#include "tool/ui/bx_string_grid.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QRegularExpression>
#include <QStyledItemDelegate>

namespace kalvo::tool::ui {
namespace {

class BxDelegate : public QStyledItemDelegate {
  public:
    explicit BxDelegate(BxStringGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const int row = index.row(), col = index.column();
        if (col >= grid_->gridColumns().size()) {
            QStyledItemDelegate::paint(p, option, index);
            return;
        }
        const BxGridColumn& c = grid_->gridColumns()[col];
        const bool fixed = row == 0;
        QColor fill =
            fixed ? (c.FixColor.isValid() ? c.FixColor : grid_->palette().color(QPalette::Button))
                  : (c.Color.isValid() ? c.Color : grid_->palette().color(QPalette::Base));
        const bool selected = !fixed && (option.state & QStyle::State_Selected);
        if (selected) fill = grid_->palette().color(QPalette::Highlight);
        p->fillRect(option.rect, fill);
        if (fixed) {
            p->setPen(grid_->palette().color(QPalette::Mid));
            p->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
        }
        QString text = grid_->displayText(row, col);
        if (fixed && text.isEmpty()) text = c.Caption;
        p->setFont(fixed ? c.FixCellFont : c.Font);
        p->setPen(grid_->palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
        const int inset = fixed ? 3 : 2;
        const Qt::Alignment align = (fixed ? c.FixAlignment : c.Alignment) | Qt::AlignVCenter;
        p->drawText(option.rect.adjusted(inset, 0, -inset, 0),
                    int(align) | (c.Wordwrap ? Qt::TextWordWrap : 0), text);
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override {
        QWidget* w = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* edit = qobject_cast<QLineEdit*>(w);
            edit && index.column() < grid_->gridColumns().size()) {
            const BxGridColumn& c = grid_->gridColumns()[index.column()];
            edit->setFont(c.Font);
            if (c.MaxLength > 0) edit->setMaxLength(c.MaxLength);
            if (c.DataType == TInputDataType::dtInteger)
                edit->setValidator(new QRegularExpressionValidator(
                    QRegularExpression(QStringLiteral("[\\s+\\-.0-9]*")), edit));
        }
        return w;
    }

    void setModelData(QWidget* editor, QAbstractItemModel*,
                      const QModelIndex& index) const override {
        if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
            if (!grid_->setEditedText(index.row(), index.column(), edit->text())) {
                edit->setText(grid_->cell(index.row(), index.column()));
                edit->setCursorPosition(std::max(0, edit->cursorPosition() - 1));
            }
        }
    }

  private:
    BxStringGrid* grid_;
};

}  // namespace

BxStringGrid::BxStringGrid(QWidget* parent) : QTableWidget(parent) {
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(20);
    setItemDelegate(new BxDelegate(this));
    setColumnCountSynced(4);
}

void BxStringGrid::setColumnCountSynced(int count) {
    setColumnCount(count);
    BxGridColumn fresh;
    fresh.Font = font();
    fresh.FixCellFont = font();
    columns_.resize(count, fresh);
}

void BxStringGrid::addColumn(const BxGridColumn& column) {
    columns_.push_back(column);
    setColumnCount(int(columns_.size()));
}

void BxStringGrid::setCell(int row, int col, const QString& text) {
    QTableWidgetItem* it = item(row, col);
    if (!it) {
        it = new QTableWidgetItem;
        setItem(row, col, it);
    }
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (row > 0 && (col >= columns_.size() || columns_[col].CanEdit)) flags |= Qt::ItemIsEditable;
    it->setFlags(flags);
    it->setText(text);
}

QString BxStringGrid::cell(int row, int col) const {
    const QTableWidgetItem* it = item(row, col);
    return it ? it->text() : QString();
}

QString BxStringGrid::displayText(int row, int col) const {
    const QString text = cell(row, col);
    if (row == 0 || col >= columns_.size() || text.isEmpty()) return text;
    const QString& mask = columns_[col].DisplayMask;
    if (mask.isEmpty()) return text;
    static const QRegularExpression numeric(QStringLiteral("^[+\\-.0-9]+$"));
    if (numeric.match(text).hasMatch()) {
        // Number mask: as many decimals as the mask has zeros after its point.
        const int point = mask.indexOf('.');
        const int decimals = point < 0 ? 0 : int(mask.size()) - point - 1;
        return QString::number(text.toDouble(), 'f', decimals);
    }
    return text;
}

bool BxStringGrid::setEditedText(int row, int col, const QString& text) {
    if (col < columns_.size() && !columns_[col].CanEdit) return false;
    if (col >= columns_.size() || columns_[col].DataType != TInputDataType::dtInteger ||
        text.isEmpty()) {
        setCell(row, col, text);
        return true;
    }
    const QString t = text.trimmed();
    if (t == QStringLiteral("-")) {
        setCell(row, col, QStringLiteral("-0"));
        return true;
    }
    bool ok = false;
    const int value = t.toInt(&ok);
    if (!ok) return false;
    setCell(row, col, QString::number(value));
    return true;
}

bool BxStringGrid::integerKeyAccepted(QChar c) {
    return c.unicode() < 32 || c == ' ' || c == '+' || c == '-' || c == '.' || c.isDigit();
}

}  // namespace kalvo::tool::ui
