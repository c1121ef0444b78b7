// BxStringGrid: a string grid whose columns are described by a collection of
// column objects (caption, alignment, colours, fonts, data type, display
// mask, editing limits). Row 0 is the fixed caption row.
#pragma once

#include <QColor>
#include <QFont>
#include <QTableWidget>
#include <QVector>

namespace kalvo::tool::ui {

enum class TInputDataType { dtString, dtInteger };

struct BxGridColumn {
    QString Caption = QStringLiteral(" ");
    Qt::Alignment Alignment = Qt::AlignLeft;
    Qt::Alignment FixAlignment = Qt::AlignLeft;
    bool CanEdit = true;
    QColor Color;     // invalid: the grid's colour
    QColor FixColor;  // invalid: button face
    TInputDataType DataType = TInputDataType::dtString;
    QString DisplayMask;
    QFont FixCellFont;
    QFont Font;
    int MaxLength = 0;
    bool MultiLine = false;
    int Width = 20;
    bool Wordwrap = false;

    // An empty caption is stored as " ".
    void setCaption(const QString& text) { Caption = text.isEmpty() ? QStringLiteral(" ") : text; }
};

class BxStringGrid : public QTableWidget {
  public:
    explicit BxStringGrid(QWidget* parent = nullptr);

    // The collection follows the column count and the other way round.
    QVector<BxGridColumn>& gridColumns() { return columns_; }
    BxGridColumn& column(int c) { return columns_[c]; }
    void setColumnCountSynced(int count);
    void addColumn(const BxGridColumn& column);

    void setCell(int row, int col, const QString& text);
    QString cell(int row, int col) const;

    // The text a cell shows: the display mask applied to an ordinary cell.
    QString displayText(int row, int col) const;
    // Editing a dtInteger cell: a lone minus becomes "-0", other text is
    // normalized through an integer; a text that is no integer is refused
    // (false) and the cell keeps its previous text.
    bool setEditedText(int row, int col, const QString& text);
    // The characters a dtInteger editor accepts.
    static bool integerKeyAccepted(QChar c);

  private:
    QVector<BxGridColumn> columns_;
};

}  // namespace kalvo::tool::ui
