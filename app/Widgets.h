#pragma once
// Qt widgets that give the window's controls the shape the routines expect: string grids
// with a fixed label column, shapes, clickable pictures, charts with one labelled series.
#include <QAbstractTableModel>
#include <QChartView>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollArea>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTableView>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "Controls.h"

QT_BEGIN_NAMESPACE
class QCategoryAxis;
class QLineSeries;
class QValueAxis;
QT_END_NAMESPACE

// The window's font face: Tahoma where installed, else the system's sans face.
QFont UiFont(int pixelSize, bool bold = false);

QColor ToQColor(TColor color);

// A style for small drop-down lists: the text may use the whole room left of the arrow.
// One instance, shared by the controls that use it.
QStyle* TightComboStyle();

// The width a label needs to show `text` on one line: what its size hint gives for it, for
// much less work.
int LabelTextWidth(const QLabel* label, const QString& text);

// Sets a label's text; a label marked "autoSize" widens to show all of it.
void SetLabelText(QLabel* label, const QString& text);

struct GridOptions {
    int cols = 17;
    int rows = 4;
    int fixedCols = 1;
    int fixedRows = 0;
    int colWidth = 50;
    int rowHeight = 24;
    bool editing = true;
    bool rangeSelect = true;
    bool scrollBars = true;
};

// The texts of one grid. Much lighter than one item object per cell: the window holds
// forty grids.
class CellModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    CellModel(const GridOptions& options, QObject* parent);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    bool IsFixed(int col, int row) const { return col < fixedCols_ || row < fixedRows_; }
    const QString& Text(int col, int row) const;
    // A new text for the cell, as an edit: a plain mark of the cell goes.
    void SetText(int col, int row, const QString& text);
    // A text an undo or redo brings back: the cell's marks stay as they are.
    void RestoreText(int col, int row, const QString& text);
    // A marked cell shows a coloured background and `tip` as its tooltip until its text is
    // set again by an edit.
    void Mark(int col, int row, const QString& tip);
    QString MarkOf(int col, int row) const;
    // Holds the cell against a file's text: it is marked with `tip` for as long as its text
    // differs from `fileText`, whatever sets the text (an edit, an undo, a download).
    void Compare(int col, int row, const QString& fileText, const QString& tip);
    // How many cells differ from the file they are held against.
    int CompareDifferences() const { return compareDifferences_; }
    // Clears every mark and comparison.
    void ClearMarks();
    // Colours each value cell by where its value lies in its row, blue (lowest) to red
    // (highest); marks stay on top. Off at start.
    void SetColourByValue(bool on);
    bool HasMarks() const { return !marks_.empty() || compareDifferences_ > 0; }
    // The texts the table came with (a download, a send's read-back, a file): a cell whose
    // text differs from them is changed and not sent, and shows a thin underline.
    void SetBaseline();
    void SetBaseline(std::vector<QString> texts);
    const std::vector<QString>& Baseline() const { return baseline_; }
    const std::vector<QString>& Texts() const { return cells_; }
    bool Changed(int col, int row) const;
    int Changes() const { return changes_; }
    // The role under which the views ask whether a cell is changed.
    static constexpr int kChangedRole = Qt::UserRole + 1;
    // The box's range for columns first..last: a cell there whose text the box cannot store
    // (no whole number, or out of range) shows a red tint and says why in its tooltip.
    void SetStoredRange(ValueRange range, int first, int last);
    // Why the box cannot store the cell's text; empty when it can or the cell is not checked.
    QString UnstorableReason(int col, int row) const;

  signals:
    // The user committed a new text in a view's cell editor.
    void edited(int col, int row, const QString& before, const QString& after);
    // The count of cells that differ from the file they are held against changed.
    void comparisonChanged();
    // The count of changed cells changed.
    void changesChanged();

  private:
    void PutText(int col, int row, const QString& text, bool keepMark);
    struct Comparison {
        QString fileText;
        QString tip;
        bool differs;
    };
    std::map<size_t, Comparison> comparisons_;
    std::vector<QString> baseline_;  // empty: no baseline
    int changes_ = 0;
    int compareDifferences_ = 0;
    size_t At(int col, int row) const;
    QVariant ValueColour(const QModelIndex& index) const;
    // Checks one cell against the stored range; true when its state changed.
    bool CheckStorable(int col, int row);
    std::optional<ValueRange> storedRange_;
    int storedFirst_ = 0;
    int storedLast_ = -1;
    std::vector<bool> unstorable_;
    std::map<size_t, QString> marks_;
    bool colourByValue_ = false;
    int cols_;
    int rows_;
    int fixedCols_;
    int fixedRows_;
    bool editing_;
    std::vector<QString> cells_;
};

// A grid of cell texts. Fixed columns and rows are drawn as headers and can be neither
// selected, edited nor made current.
class TStringGrid : public QTableView, public TextGrid {
    Q_OBJECT
  public:
    // A grid with texts of its own.
    TStringGrid(const QString& name, const GridOptions& options, QWidget* parent);
    // A grid that shows `model`, which someone else owns and which outlives it.
    TStringGrid(const QString& name, const GridOptions& options, CellModel* model, QWidget* parent);

    int ColCount() const override { return model_->columnCount(); }
    int RowCount() const override { return model_->rowCount(); }
    std::string Cell(int col, int row) const override;
    void SetCell(int col, int row, const std::string& text) override;
    void MarkCell(int col, int row, const std::string& tip) override;
    QString CellMark(int col, int row) const { return model_->MarkOf(col, row); }
    int Col() const override { return currentColumn(); }
    int Row() const override { return currentRow(); }
    void SetCol(int col) override;
    void SetRow(int row) override;
    bool Enabled() const override { return isEnabled(); }
    void SetEnabled(bool enabled) override { setEnabled(enabled); }
    TColor Color() const override { return color_; }
    void SetColor(TColor color) override;
    int ColWidth(int col) const override { return columnWidth(col); }
    void SetColWidth(int col, int width) override { setColumnWidth(col, width); }
    bool Focused() const override;

    bool IsFixed(int col, int row) const { return model_->IsFixed(col, row); }
    int columnCount() const { return model_->columnCount(); }
    int rowCount() const { return model_->rowCount(); }
    int currentColumn() const { return currentIndex().column(); }
    int currentRow() const { return currentIndex().row(); }
    void setCurrentCell(
        int row, int col,
        QItemSelectionModel::SelectionFlags command = QItemSelectionModel::ClearAndSelect);
    QRect CellRect(int col, int row) const { return visualRect(model_->index(row, col)); }
    Qt::ItemFlags CellFlags(int col, int row) const {
        return model_->flags(model_->index(row, col));
    }

    // Passes a key that went to the cell editor to the grid's own key-down signal first.
    void EditorKeyPress(QKeyEvent* event) { emit keyDown(event->key(), event->modifiers()); }

  signals:
    // Raised before the grid (or its cell editor) handles the key, so a handler sees the
    // cells as they were.
    void keyDown(int key, Qt::KeyboardModifiers modifiers);
    // Raised after a mouse press has made the clicked cell current.
    void mouseDown();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;

  public:
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

  private:
    void RequireCell(int col, int row) const;
    CellModel* model_;
    bool fixedView_ = false;
    TColor color_ = clWindow;
};

// One table of the window: its texts, and its view once that is made. Until then the
// current cell, the enabled state, the colour and the column widths are kept here and
// handed to the view when it is made; from then on the view holds them. The window makes
// the views of a page when the page is first shown, so a table on a page never looked at
// costs its texts only.
class TableText : public TextGrid {
  public:
    TableText(const QString& name, const GridOptions& options, QObject* owner);

    const QString& Name() const { return name_; }
    CellModel& Model() const { return *model_; }
    TStringGrid* View() const { return view_; }
    // Makes the view as a child of `parent`, shown if the parent is.
    TStringGrid* MakeView(QWidget* parent);

    int ColCount() const override { return model_->columnCount(); }
    int RowCount() const override { return model_->rowCount(); }
    std::string Cell(int col, int row) const override;
    void SetCell(int col, int row, const std::string& text) override;
    void MarkCell(int col, int row, const std::string& tip) override;
    void SetStoredRange(ValueRange range, int first, int last) override {
        model_->SetStoredRange(range, first, last);
    }
    QString CellMark(int col, int row) const { return model_->MarkOf(col, row); }
    int Col() const override;
    int Row() const override;
    void SetCol(int col) override;
    void SetRow(int row) override;
    bool Enabled() const override;
    void SetEnabled(bool enabled) override;
    TColor Color() const override;
    void SetColor(TColor color) override;
    int ColWidth(int col) const override;
    void SetColWidth(int col, int width) override;
    bool Focused() const override;

  private:
    QString name_;
    GridOptions options_;
    CellModel* model_;
    TStringGrid* view_ = nullptr;
    // The view's state while there is no view.
    int col_ = -1;
    int row_ = -1;
    bool selected_ = false;  // the current cell was set, which also selects it
    bool enabled_ = true;
    bool colored_ = false;
    TColor color_ = clWindow;
    std::vector<int> widths_;
};

// A whole-number box whose own range is for the user; a value beyond it, as the box may
// report one, is shown as it is (without the arrows and in a face small enough to fit) so
// that it goes back unchanged. The range returns to its own once the value is back in it.
class TNumBox : public QSpinBox {
    Q_OBJECT
  public:
    TNumBox(int maximum, QWidget* parent);
    void ShowValue(int value);

  private:
    // Called on every change of the value: the range, the arrows and the face follow it.
    void FitText();
    int ownMaximum_;
    int layoutPixelSize_ = 0;  // the face's size as the layout sets it, taken on first use
};

// A filled rectangle with a thin border.
class TShape : public QWidget {
    Q_OBJECT
  public:
    explicit TShape(QWidget* parent, TColor color, Qt::BrushStyle style = Qt::SolidPattern);
    TColor BrushColor() const { return color_; }
    void SetBrushColor(TColor color);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    TColor color_;
    Qt::BrushStyle style_;
};

// A picture that reports double clicks.
class TImage : public QLabel {
    Q_OBJECT
  public:
    using QLabel::QLabel;
  signals:
    void doubleClicked();

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// A combo box that tells before its list drops down.
class TComboBox : public QComboBox {
    Q_OBJECT
  public:
    using QComboBox::QComboBox;
    void showPopup() override;
  signals:
    void dropDown();
};

// A curve chart with one line series whose points carry text labels on the x axis.
class TChart : public QChartView, public ChartSeries {
    Q_OBJECT
  public:
    explicit TChart(QWidget* parent);
    void Clear() override;
    void Add(double value, const std::string& label) override;
    int Count() const override { return static_cast<int>(values_.size()); }
    double Value(int index) const override { return values_.at(static_cast<size_t>(index)); }
    std::string Label(int index) const override { return labels_.at(static_cast<size_t>(index)); }
    void BeginUpdate() override { ++batching_; }
    void EndUpdate() override;
    QLineSeries* Line() const { return series_; }

  signals:
    void doubleClicked();

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // Hands the points and labels to the chart; the axis is rebuilt only when its labels
    // changed.
    void Apply();

    QLineSeries* series_;
    QCategoryAxis* axisX_;
    QValueAxis* axisY_;
    std::vector<double> values_;
    std::vector<std::string> labels_;
    std::vector<std::string> axisLabels_;
    int batching_ = 0;
};

// Adapts any of the window's plain controls to the routines' Control view.
class WidgetControl : public Control {
  public:
    explicit WidgetControl(QWidget* widget) : widget_(widget) {}
    bool Enabled() const override;
    void SetEnabled(bool enabled) override;
    std::string Caption() const override;
    void SetCaption(const std::string& caption) override;
    bool Checked() const override;
    void SetChecked(bool checked) override;
    TColor Color() const override;
    void SetColor(TColor color) override;
    int ItemIndex() const override;
    void SetItemIndex(int index) override;

  private:
    QWidget* widget_;
};

// The window's scroll area: the wheel scrolls the content by the window's own rule.
// Installed as the application's event filter, it also takes the wheel from every control
// of the content that does not have the focus.
class TFormScrollArea : public QScrollArea {
    Q_OBJECT
  public:
    using QScrollArea::QScrollArea;
    bool eventFilter(QObject* watched, QEvent* event) override;
  signals:
    void wheelDown();
    void wheelUp();

  protected:
    void wheelEvent(QWheelEvent* event) override;

  private:
    int pendingDelta_ = 0;
};
