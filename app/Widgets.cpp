#include "Widgets.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCategoryAxis>
#include <QChart>
#include <QFile>
#include <QFontDatabase>
#include <QGraphicsLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLineSeries>
#include <QPainter>
#include <QProxyStyle>
#include <QSpinBox>
#include <QStyleOptionHeader>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "SelectionMath.h"
#include "StoredValues.h"

QFont UiFont(int pixelSize, bool bold) {
    static const QString family = [] {
        // The layout's sizes were drawn for Tahoma. Debian ships a face with its metrics
        // (fonts-wine) outside the system's font folders, so it is loaded from there.
        // (The system's font configuration may name Tahoma as an alias of another face, so
        // the files are loaded whether or not the name is known.)
        QString loaded;
        for (const char* file :
             {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"}) {
            if (!QFile::exists(QString::fromLatin1(file))) continue;
            const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(file));
            if (id >= 0 && loaded.isEmpty() &&
                !QFontDatabase::applicationFontFamilies(id).isEmpty())
                loaded = QFontDatabase::applicationFontFamilies(id).constFirst();
        }
        if (!loaded.isEmpty()) return loaded;
        // Without it, of the faces a Linux desktop usually has, a condensed sans keeps the
        // captions inside their fixed control sizes best.
        for (const char* face : {"Tahoma", "DejaVu Sans Condensed", "Liberation Sans Narrow",
                                 "Liberation Sans", "Arimo"}) {
            if (QFontDatabase::hasFamily(QString::fromLatin1(face)))
                return QString::fromLatin1(face);
        }
        return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    }();
    QFont font(family);
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

namespace {
class TightComboProxy : public QProxyStyle {
  public:
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                         const QWidget* widget) const override {
        if (control == CC_ComboBox && sub == SC_ComboBoxEditField) {
            const QRect arrow =
                QProxyStyle::subControlRect(control, option, SC_ComboBoxArrow, widget);
            const QRect field = QProxyStyle::subControlRect(control, option, sub, widget);
            return QRect(QPoint(option->rect.left() + 2, field.top()),
                         QPoint(arrow.left() - 1, field.bottom()));
        }
        return QProxyStyle::subControlRect(control, option, sub, widget);
    }
};
}  // namespace

QStyle* TightComboStyle() {
    static QStyle* const style = [] {
        auto* proxy = new TightComboProxy();
        proxy->setParent(qApp);
        return proxy;
    }();
    return style;
}

int LabelTextWidth(const QLabel* label, const QString& text) {
    // What the label's size hint gives for one plain line, without laying the text out.
    const QMargins margins = label->contentsMargins();
    return static_cast<int>(std::ceil(QFontMetricsF(label->font()).horizontalAdvance(text))) +
           margins.left() + margins.right() + 2 * label->margin();
}

void SetLabelText(QLabel* label, const QString& text) {
    label->setText(text);
    // Labels that show live values grow with their text, as far as it reaches.
    if (label->property("autoSize").toBool()) {
        label->resize(std::max(label->width(), LabelTextWidth(label, text)), label->height());
    }
}

QColor ToQColor(TColor color) {
    if (color == clWindow) return QApplication::palette().color(QPalette::Base);
    return QColor::fromRgb(color & 0xFFFFFF);
}

namespace {

// Draws the fixed cells of a grid in the style's header look.
class FixedCellDelegate : public QStyledItemDelegate {
  public:
    explicit FixedCellDelegate(TStringGrid* grid) : QStyledItemDelegate(grid), grid_(grid) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (!grid_->IsFixed(index.column(), index.row())) {
            PaintValueCell(painter, option, index);
            return;
        }
        QStyleOptionHeader header;
        header.rect = option.rect;
        header.state = option.state & QStyle::State_Enabled;
        header.text = index.data().toString();
        header.textAlignment = Qt::AlignLeft | Qt::AlignVCenter;
        header.palette = option.palette;
        header.fontMetrics = option.fontMetrics;
        header.position = QStyleOptionHeader::Middle;
        header.section = 0;
        QWidget* widget = grid_;
        painter->save();
        painter->setFont(option.font);
        grid_->style()->drawControl(QStyle::CE_HeaderSection, &header, painter, widget);
        header.rect = option.rect.adjusted(3, 0, -2, 0);
        grid_->style()->drawControl(QStyle::CE_HeaderLabel, &header, painter, widget);
        painter->restore();
    }

    // A value cell as the style draws an item (background, text, focus frame), with the text
    // drawn as one run: a cell holds one short line, which needs no text layout. (The
    // style's own item text goes through a full text layout, the dearest part of painting a
    // table; the live display repaints cells many times a second.)
    void PaintValueCell(QPainter* painter, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QStyle* style = grid_->style();
        painter->save();
        painter->setClipRect(opt.rect);
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, grid_);
        if (!opt.text.isEmpty()) {
            QPalette::ColorGroup group =
                (opt.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
            if (group == QPalette::Normal && !(opt.state & QStyle::State_Active))
                group = QPalette::Inactive;
            painter->setPen(opt.palette.color(group, (opt.state & QStyle::State_Selected)
                                                         ? QPalette::HighlightedText
                                                         : QPalette::Text));
            const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid_) + 1;
            // A cell has neither a check box nor an icon: its text has the whole cell.
            const QRect area = opt.rect.adjusted(margin, 0, -margin, 0);
            const QFontMetrics& metrics = opt.fontMetrics;
            QString text = opt.text;
            int width = metrics.horizontalAdvance(text);
            if (width > area.width()) {
                text = metrics.elidedText(text, opt.textElideMode, area.width());
                width = metrics.horizontalAdvance(text);
            }
            const QRect line = QStyle::alignedRect(opt.direction, opt.displayAlignment,
                                                   QSize(width, metrics.height()), area);
            painter->setFont(opt.font);
            painter->drawText(QPoint(line.left(), line.top() + metrics.ascent()), text);
            // A value changed since the table came and not sent: a thin line under it, which
            // leaves the background to the marks.
            if (index.data(CellModel::kChangedRole).toBool()) {
                const int under = line.top() + metrics.ascent() + 2;
                painter->drawLine(line.left(), under, line.left() + width, under);
            }
        }
        if (opt.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(opt);
            focus.rect = style->subElementRect(QStyle::SE_ItemViewItemFocusRect, &opt, grid_);
            focus.state |= QStyle::State_KeyboardFocusChange | QStyle::State_Item;
            const QPalette::ColorGroup group =
                (opt.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
            focus.backgroundColor =
                opt.palette.color(group, (opt.state & QStyle::State_Selected) ? QPalette::Highlight
                                                                              : QPalette::Window);
            style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, grid_);
        }
        painter->restore();
    }

    // Keys typed into an open cell editor reach the grid's key-down signal as well.
    bool eventFilter(QObject* editor, QEvent* event) override {
        if (event->type() == QEvent::KeyPress)
            grid_->EditorKeyPress(static_cast<QKeyEvent*>(event));
        return QStyledItemDelegate::eventFilter(editor, event);
    }

  private:
    TStringGrid* grid_;
};

}  // namespace

CellModel::CellModel(const GridOptions& options, QObject* parent)
    : QAbstractTableModel(parent),
      cols_(options.cols),
      rows_(options.rows),
      fixedCols_(options.fixedCols),
      fixedRows_(options.fixedRows),
      editing_(options.editing),
      cells_(static_cast<size_t>(options.cols * options.rows)) {}

int CellModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}
int CellModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : cols_;
}

size_t CellModel::At(int col, int row) const {
    if (col < 0 || col >= cols_ || row < 0 || row >= rows_) throw std::out_of_range("grid cell");
    return static_cast<size_t>(row * cols_ + col);
}

const QString& CellModel::Text(int col, int row) const {
    return cells_[At(col, row)];
}

void CellModel::SetText(int col, int row, const QString& text) {
    PutText(col, row, text, false);
}

void CellModel::RestoreText(int col, int row, const QString& text) {
    PutText(col, row, text, true);
}

void CellModel::PutText(int col, int row, const QString& text, bool keepMark) {
    const size_t at = At(col, row);
    const QModelIndex changed = index(row, col);
    bool marksChanged = !keepMark && !marks_.empty() && marks_.erase(at) > 0;
    const auto compared = comparisons_.find(at);
    if (compared != comparisons_.end()) {
        // The mark of a difference from the file follows the text.
        const bool differs = text != compared->second.fileText;
        if (differs != compared->second.differs) {
            compared->second.differs = differs;
            compareDifferences_ += differs ? 1 : -1;
            marksChanged = true;
            emit comparisonChanged();
        }
    }
    if (marksChanged) emit dataChanged(changed, changed, {Qt::BackgroundRole, Qt::ToolTipRole});
    QString& cell = cells_[at];
    if (cell == text) return;
    if (!baseline_.empty() && !IsFixed(col, row)) {
        const bool was = cell != baseline_[at];
        const bool now = text != baseline_[at];
        if (was != now) {
            changes_ += now ? 1 : -1;
            emit changesChanged();
        }
    }
    cell = text;
    if (CheckStorable(col, row)) {
        emit dataChanged(changed, changed,
                         {Qt::DisplayRole, Qt::EditRole, Qt::BackgroundRole, Qt::ToolTipRole});
    } else {
        emit dataChanged(changed, changed, {Qt::DisplayRole, Qt::EditRole});
    }
    // The row's colours follow its lowest and highest values.
    if (colourByValue_)
        emit dataChanged(index(row, 0), index(row, cols_ - 1), {Qt::BackgroundRole});
}

void CellModel::Compare(int col, int row, const QString& fileText, const QString& tip) {
    const size_t at = At(col, row);
    const auto old = comparisons_.find(at);
    if (old != comparisons_.end() && old->second.differs) --compareDifferences_;
    const bool differs = cells_[at] != fileText;
    comparisons_[at] = {fileText, tip, differs};
    if (differs) ++compareDifferences_;
    const QModelIndex changed = index(row, col);
    emit dataChanged(changed, changed, {Qt::BackgroundRole, Qt::ToolTipRole});
    emit comparisonChanged();
}

void CellModel::Mark(int col, int row, const QString& tip) {
    marks_[At(col, row)] = tip;
    const QModelIndex marked = index(row, col);
    emit dataChanged(marked, marked, {Qt::BackgroundRole, Qt::ToolTipRole});
}

void CellModel::SetBaseline() {
    SetBaseline(cells_);
}

void CellModel::SetBaseline(std::vector<QString> texts) {
    if (texts.size() != cells_.size()) texts.clear();
    baseline_ = std::move(texts);
    changes_ = 0;
    for (int row = 0; row < rows_; ++row) {
        for (int col = 0; col < cols_; ++col) changes_ += Changed(col, row) ? 1 : 0;
    }
    emit dataChanged(index(0, 0), index(rows_ - 1, cols_ - 1), {kChangedRole});
    emit changesChanged();
}

bool CellModel::Changed(int col, int row) const {
    if (baseline_.empty() || IsFixed(col, row)) return false;
    const size_t at = At(col, row);
    return cells_[at] != baseline_[at];
}

QString CellModel::MarkOf(int col, int row) const {
    const size_t at = At(col, row);
    QString tip;
    if (const auto found = marks_.find(at); found != marks_.end()) tip = found->second;
    if (const auto found = comparisons_.find(at);
        found != comparisons_.end() && found->second.differs) {
        if (!tip.isEmpty()) tip += QLatin1Char('\n');
        tip += found->second.tip;
    }
    return tip;
}

void CellModel::SetStoredRange(ValueRange range, int first, int last) {
    storedRange_ = range;
    storedFirst_ = std::max(first, fixedCols_);
    storedLast_ = std::min(last, cols_ - 1);
    unstorable_.assign(cells_.size(), false);
    for (int row = fixedRows_; row < rows_; ++row) {
        for (int col = storedFirst_; col <= storedLast_; ++col) CheckStorable(col, row);
    }
    emit dataChanged(index(0, 0), index(rows_ - 1, cols_ - 1),
                     {Qt::BackgroundRole, Qt::ToolTipRole});
}

bool CellModel::CheckStorable(int col, int row) {
    if (!storedRange_ || col < storedFirst_ || col > storedLast_ || row < fixedRows_) return false;
    const size_t at = At(col, row);
    const bool bad = !WhyUnstorable(cells_[at].toStdString(), *storedRange_).empty();
    if (unstorable_[at] == bad) return false;
    unstorable_[at] = bad;
    return true;
}

QString CellModel::UnstorableReason(int col, int row) const {
    const size_t at = At(col, row);
    if (!storedRange_ || unstorable_.empty() || !unstorable_[at]) return {};
    return QStringLiteral("The box cannot store this: %1.")
        .arg(QString::fromStdString(WhyUnstorable(cells_[at].toStdString(), *storedRange_)));
}

QVariant CellModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (role == kChangedRole) return Changed(index.column(), index.row());
    if ((role == Qt::BackgroundRole || role == Qt::ToolTipRole) && !unstorable_.empty() &&
        unstorable_[At(index.column(), index.row())]) {
        // Above every other colour: a send or a save would refuse this cell.
        if (role == Qt::BackgroundRole) return QColor(255, 150, 150);
        QString tip = UnstorableReason(index.column(), index.row());
        const QString mark = MarkOf(index.column(), index.row());
        if (!mark.isEmpty()) tip += QLatin1Char('\n') + mark;
        return tip;
    }
    if (role == Qt::BackgroundRole || role == Qt::ToolTipRole) {
        if (!marks_.empty() || compareDifferences_ > 0) {
            const QString mark = MarkOf(index.column(), index.row());
            if (!mark.isEmpty()) {
                return role == Qt::ToolTipRole ? QVariant(mark) : QVariant(QColor(255, 190, 150));
            }
        }
        if (role == Qt::BackgroundRole && colourByValue_) return ValueColour(index);
        return {};
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
    return Text(index.column(), index.row());
}

bool CellModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || role != Qt::EditRole) return false;
    const QString before = Text(index.column(), index.row());
    const QString after = value.toString();
    SetText(index.column(), index.row(), after);
    if (after != before) emit edited(index.column(), index.row(), before, after);
    return true;
}

QVariant CellModel::ValueColour(const QModelIndex& index) const {
    if (IsFixed(index.column(), index.row())) return {};
    std::vector<std::string> values;
    values.reserve(static_cast<size_t>(cols_ - fixedCols_));
    for (int col = fixedCols_; col < cols_; ++col)
        values.push_back(Text(col, index.row()).toStdString());
    double share = 0;
    if (!ShareOfRow(values, static_cast<size_t>(index.column() - fixedCols_), share)) return {};
    // Light tones, so that the text stays easy to read: blue for the lowest, red for the
    // highest.
    return QColor::fromHsv(static_cast<int>(std::lround(240 * (1 - share))), 80, 255);
}

void CellModel::SetColourByValue(bool on) {
    if (colourByValue_ == on) return;
    colourByValue_ = on;
    emit dataChanged(index(0, 0), index(rows_ - 1, cols_ - 1), {Qt::BackgroundRole});
}

void CellModel::ClearMarks() {
    const bool compared = !comparisons_.empty();
    comparisons_.clear();
    compareDifferences_ = 0;
    if (compared) emit comparisonChanged();
    if (marks_.empty() && !compared) return;
    marks_.clear();
    emit dataChanged(index(0, 0), index(rows_ - 1, cols_ - 1),
                     {Qt::BackgroundRole, Qt::ToolTipRole});
}

Qt::ItemFlags CellModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    if (IsFixed(index.column(), index.row())) return Qt::ItemIsEnabled;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    // A cell the box does not store (the configuration row beyond a 2-channel box's one value)
    // takes no typing, or what is typed would be lost at the next send.
    const bool stored =
        !storedRange_ || (index.column() >= storedFirst_ && index.column() <= storedLast_);
    if (editing_ && stored) flags |= Qt::ItemIsEditable;
    return flags;
}

TStringGrid::TStringGrid(const QString& name, const GridOptions& options, QWidget* parent)
    : TStringGrid(name, options, nullptr, parent) {}

TStringGrid::TStringGrid(const QString& name, const GridOptions& options, CellModel* model,
                         QWidget* parent)
    : QTableView(parent), model_(model != nullptr ? model : new CellModel(options, this)) {
    setObjectName(name);
    setModel(model_);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    horizontalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->setDefaultSectionSize(options.colWidth);
    verticalHeader()->setDefaultSectionSize(options.rowHeight);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    setShowGrid(true);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setItemDelegate(new FixedCellDelegate(this));
    // A greyed table still shows its texts, as a disabled grid does on other systems.
    QPalette pal = palette();
    pal.setColor(QPalette::Disabled, QPalette::Text, QColor(0x60, 0x60, 0x60));
    setPalette(pal);
    setEditTriggers(options.editing
                        ? (QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::AnyKeyPressed)
                        : QAbstractItemView::NoEditTriggers);
    setSelectionMode(options.rangeSelect ? QAbstractItemView::ContiguousSelection
                                         : QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    if (!options.scrollBars) {
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        // Such a grid shows what fits from its first cell on: moving the current cell
        // beyond its edge must not scroll the label column away.
        setAutoScroll(false);
        fixedView_ = true;
    }
    if (options.fixedCols < options.cols && options.fixedRows < options.rows) {
        setCurrentCell(options.fixedRows, options.fixedCols, QItemSelectionModel::NoUpdate);
    }
}

void TStringGrid::RequireCell(int col, int row) const {
    if (col < 0 || col >= columnCount() || row < 0 || row >= rowCount()) {
        throw std::out_of_range("grid cell");
    }
}

std::string TStringGrid::Cell(int col, int row) const {
    return model_->Text(col, row).toStdString();
}

void TStringGrid::SetCell(int col, int row, const std::string& text) {
    model_->SetText(col, row, QString::fromStdString(text));
}

void TStringGrid::MarkCell(int col, int row, const std::string& tip) {
    model_->Mark(col, row, QString::fromStdString(tip));
}

void TStringGrid::setCurrentCell(int row, int col, QItemSelectionModel::SelectionFlags command) {
    RequireCell(col, row);
    selectionModel()->setCurrentIndex(model_->index(row, col), command);
}

void TStringGrid::SetCol(int col) {
    if (col < 0 || col >= columnCount()) throw std::out_of_range("grid column");
    setCurrentCell(std::max(currentRow(), 0), col);
}

void TStringGrid::SetRow(int row) {
    if (row < 0 || row >= rowCount()) throw std::out_of_range("grid row");
    setCurrentCell(row, std::max(currentColumn(), 0));
}

void TStringGrid::SetColor(TColor color) {
    color_ = color;
    QPalette pal = palette();
    pal.setColor(QPalette::Base, ToQColor(color));
    setPalette(pal);
}

bool TStringGrid::Focused() const {
    const QWidget* focus = QApplication::focusWidget();
    return focus != nullptr && (focus == this || isAncestorOf(focus));
}

void TStringGrid::keyPressEvent(QKeyEvent* event) {
    emit keyDown(event->key(), event->modifiers());
    QTableView::keyPressEvent(event);
}

void TStringGrid::mousePressEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (index.isValid() && IsFixed(index.column(), index.row())) {
        event->accept();
        return;
    }
    QTableView::mousePressEvent(event);
    emit mouseDown();
}

void TStringGrid::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (fixedView_) return;
    QTableView::scrollTo(index, hint);
}

QModelIndex TStringGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    // Ctrl with an arrow key edits the current cell (step or fill); the cell stays current.
    const bool arrow =
        action == MoveUp || action == MoveDown || action == MoveLeft || action == MoveRight;
    if (arrow && (modifiers & Qt::ControlModifier)) return currentIndex();
    const QModelIndex next = QTableView::moveCursor(action, modifiers);
    if (next.isValid() && IsFixed(next.column(), next.row())) return currentIndex();
    return next;
}

TableText::TableText(const QString& name, const GridOptions& options, QObject* owner)
    : name_(name),
      options_(options),
      model_(new CellModel(options, owner)),
      widths_(static_cast<size_t>(options.cols), options.colWidth) {
    // Where a view makes its first free cell current, so does the table without one.
    if (options.fixedCols < options.cols && options.fixedRows < options.rows) {
        col_ = options.fixedCols;
        row_ = options.fixedRows;
    }
}

TStringGrid* TableText::MakeView(QWidget* parent) {
    if (view_ != nullptr) return view_;
    view_ = new TStringGrid(name_, options_, model_, parent);
    for (int col = 0; col < ColCount(); ++col) {
        if (widths_[static_cast<size_t>(col)] != options_.colWidth) {
            view_->setColumnWidth(col, widths_[static_cast<size_t>(col)]);
        }
    }
    if (selected_) view_->setCurrentCell(row_, col_);
    if (colored_) view_->SetColor(color_);
    view_->setEnabled(enabled_);
    if (parent != nullptr && parent->isVisible()) view_->show();
    return view_;
}

std::string TableText::Cell(int col, int row) const {
    return model_->Text(col, row).toStdString();
}

void TableText::SetCell(int col, int row, const std::string& text) {
    model_->SetText(col, row, QString::fromStdString(text));
}

void TableText::MarkCell(int col, int row, const std::string& tip) {
    model_->Mark(col, row, QString::fromStdString(tip));
}

int TableText::Col() const {
    return view_ != nullptr ? view_->Col() : col_;
}

int TableText::Row() const {
    return view_ != nullptr ? view_->Row() : row_;
}

void TableText::SetCol(int col) {
    if (view_ != nullptr) return view_->SetCol(col);
    if (col < 0 || col >= ColCount()) throw std::out_of_range("grid column");
    col_ = col;
    row_ = std::max(row_, 0);
    selected_ = true;
}

void TableText::SetRow(int row) {
    if (view_ != nullptr) return view_->SetRow(row);
    if (row < 0 || row >= RowCount()) throw std::out_of_range("grid row");
    row_ = row;
    col_ = std::max(col_, 0);
    selected_ = true;
}

bool TableText::Enabled() const {
    return view_ != nullptr ? view_->Enabled() : enabled_;
}

void TableText::SetEnabled(bool enabled) {
    if (view_ != nullptr) return view_->SetEnabled(enabled);
    enabled_ = enabled;
}

TColor TableText::Color() const {
    return view_ != nullptr ? view_->Color() : color_;
}

void TableText::SetColor(TColor color) {
    if (view_ != nullptr) return view_->SetColor(color);
    color_ = color;
    colored_ = true;
}

int TableText::ColWidth(int col) const {
    if (view_ != nullptr) return view_->ColWidth(col);
    return widths_.at(static_cast<size_t>(col));
}

void TableText::SetColWidth(int col, int width) {
    if (view_ != nullptr) return view_->SetColWidth(col, width);
    widths_.at(static_cast<size_t>(col)) = width;
}

bool TableText::Focused() const {
    return view_ != nullptr && view_->Focused();
}

TNumBox::TNumBox(int maximum, QWidget* parent) : QSpinBox(parent), ownMaximum_(maximum) {
    setRange(0, maximum);
    connect(this, &QSpinBox::valueChanged, this, &TNumBox::FitText);
}

void TNumBox::ShowValue(int value) {
    setMaximum(std::max(ownMaximum_, value));
    setValue(value);
}

void TNumBox::FitText() {
    if (layoutPixelSize_ == 0) layoutPixelSize_ = font().pixelSize();
    if (maximum() > ownMaximum_ && value() <= ownMaximum_) setMaximum(ownMaximum_);
    const bool wide = value() > ownMaximum_;
    setButtonSymbols(wide ? QAbstractSpinBox::NoButtons : QAbstractSpinBox::UpDownArrows);
    // The layout's size, unless a wide value needs a smaller one.
    QFont face = font();
    face.setPixelSize(layoutPixelSize_);
    const QString shown = textFromValue(value());
    const int room = width() - 6;
    while (wide && face.pixelSize() > 6 && QFontMetrics(face).horizontalAdvance(shown) > room) {
        face.setPixelSize(face.pixelSize() - 1);
    }
    if (face != font()) setFont(face);
}

TShape::TShape(QWidget* parent, TColor color, Qt::BrushStyle style)
    : QWidget(parent), color_(color), style_(style) {}

void TShape::SetBrushColor(TColor color) {
    color_ = color;
    update();
}

void TShape::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (style_ != Qt::SolidPattern) painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(QBrush(ToQColor(color_), style_));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void TImage::mouseDoubleClickEvent(QMouseEvent* event) {
    emit doubleClicked();
    QLabel::mouseDoubleClickEvent(event);
}

void TComboBox::showPopup() {
    emit dropDown();
    QComboBox::showPopup();
}

TChart::TChart(QWidget* parent) : QChartView(parent) {
    // The view comes with a chart of its own; a second one would cost a scene and a layout
    // more.
    QChart* chart = this->chart();
    chart->legend()->hide();
    chart->setTitle(QString());
    chart->setBackgroundRoundness(0);
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    series_ = new QLineSeries();
    QPen pen = series_->pen();
    pen.setWidth(3);
    series_->setPen(pen);
    series_->setPointsVisible(false);
    chart->addSeries(series_);

    axisX_ = new QCategoryAxis();
    axisX_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    axisX_->setStartValue(-1);
    axisX_->setRange(-0.5, 15.5);
    QFont axisFont = axisX_->labelsFont();
    axisFont.setPixelSize(7);
    axisX_->setLabelsFont(axisFont);
    axisX_->setTruncateLabels(false);
    axisX_->setLabelsAngle(-90);
    axisY_ = new QValueAxis();
    axisY_->setLabelsFont(axisFont);
    axisY_->setLabelsVisible(false);
    axisY_->setRange(-1, 1);
    chart->addAxis(axisX_, Qt::AlignBottom);
    chart->addAxis(axisY_, Qt::AlignLeft);
    series_->attachAxis(axisX_);
    series_->attachAxis(axisY_);
    setRenderHint(QPainter::Antialiasing, true);
    setFrameShape(QFrame::NoFrame);
}

void TChart::Clear() {
    values_.clear();
    labels_.clear();
    if (batching_ == 0) Apply();
}

void TChart::Add(double value, const std::string& label) {
    values_.push_back(value);
    labels_.push_back(label);
    if (batching_ == 0) Apply();
}

void TChart::EndUpdate() {
    if (batching_ > 0 && --batching_ == 0) Apply();
}

void TChart::Apply() {
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(values_.size()));
    for (size_t i = 0; i < values_.size(); ++i)
        points.append(QPointF(static_cast<double>(i), values_[i]));
    series_->replace(points);
    if (labels_ != axisLabels_) {
        for (const QString& label : axisX_->categoriesLabels()) axisX_->remove(label);
        for (size_t i = 0; i < labels_.size(); ++i) {
            // The axis wants distinct category names; equal labels differ by invisible marks.
            const int position = static_cast<int>(i);
            axisX_->append(QString::fromStdString(labels_[i]) + QString(position, QChar(0x200B)),
                           position);
        }
        axisX_->setRange(-0.5, 15.5);
        axisLabels_ = labels_;
    }
    if (values_.empty()) return;
    const auto [low, high] = std::minmax_element(values_.begin(), values_.end());
    if (*low == *high) {
        axisY_->setRange(*low - 1, *high + 1);
    } else {
        axisY_->setRange(*low, *high);
    }
}

void TChart::resizeEvent(QResizeEvent* event) {
    // Margins of one percent of the chart's size on each side.
    const int x = qRound(width() * 0.01);
    const int y = qRound(height() * 0.01);
    chart()->setMargins(QMargins(x, y, x, y));
    QChartView::resizeEvent(event);
}

void TChart::mouseDoubleClickEvent(QMouseEvent* event) {
    emit doubleClicked();
    QChartView::mouseDoubleClickEvent(event);
}

bool WidgetControl::Enabled() const {
    return widget_->isEnabled();
}
void WidgetControl::SetEnabled(bool enabled) {
    widget_->setEnabled(enabled);
}

std::string WidgetControl::Caption() const {
    if (auto* edit = qobject_cast<QLineEdit*>(widget_)) return edit->text().toStdString();
    if (auto* spin = qobject_cast<QSpinBox*>(widget_)) return spin->cleanText().toStdString();
    if (auto* button = qobject_cast<QAbstractButton*>(widget_)) return button->text().toStdString();
    if (auto* label = qobject_cast<QLabel*>(widget_)) return label->text().toStdString();
    if (auto* box = qobject_cast<QGroupBox*>(widget_)) return box->title().toStdString();
    if (auto* combo = qobject_cast<QComboBox*>(widget_)) return combo->currentText().toStdString();
    return widget_->windowTitle().toStdString();
}

void WidgetControl::SetCaption(const std::string& caption) {
    const QString text = QString::fromStdString(caption);
    if (auto* edit = qobject_cast<QLineEdit*>(widget_)) return edit->setText(text);
    if (auto* spin = qobject_cast<QSpinBox*>(widget_)) {
        if (text.isEmpty()) return spin->clear();
        if (auto* box = qobject_cast<TNumBox*>(spin)) return box->ShowValue(text.toInt());
        return spin->setValue(text.toInt());
    }
    if (auto* button = qobject_cast<QAbstractButton*>(widget_)) return button->setText(text);
    if (auto* label = qobject_cast<QLabel*>(widget_)) return SetLabelText(label, text);
    if (auto* box = qobject_cast<QGroupBox*>(widget_)) return box->setTitle(text);
    if (auto* combo = qobject_cast<QComboBox*>(widget_)) return combo->setCurrentText(text);
    widget_->setWindowTitle(text);
}

bool WidgetControl::Checked() const {
    auto* button = qobject_cast<QAbstractButton*>(widget_);
    return button != nullptr && button->isChecked();
}

void WidgetControl::SetChecked(bool checked) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget_)) button->setChecked(checked);
}

TColor WidgetControl::Color() const {
    if (auto* shape = qobject_cast<TShape*>(widget_)) return shape->BrushColor();
    const QColor color = widget_->palette().color(QPalette::Active, widget_->foregroundRole());
    return static_cast<TColor>(color.rgb() & 0xFFFFFF);
}

void WidgetControl::SetColor(TColor color) {
    if (auto* shape = qobject_cast<TShape*>(widget_)) return shape->SetBrushColor(color);
    // Only the enabled look takes the colour: a disabled control stays greyed.
    QPalette pal = widget_->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, widget_->foregroundRole(), ToQColor(color));
        pal.setColor(group, QPalette::ButtonText, ToQColor(color));
    }
    widget_->setPalette(pal);
}

int WidgetControl::ItemIndex() const {
    auto* combo = qobject_cast<QComboBox*>(widget_);
    return combo != nullptr ? combo->currentIndex() : -1;
}

void WidgetControl::SetItemIndex(int index) {
    auto* combo = qobject_cast<QComboBox*>(widget_);
    if (combo == nullptr) return;
    // An index the list does not have leaves nothing selected.
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

bool TFormScrollArea::eventFilter(QObject* watched, QEvent* event) {
    const bool wheel = event->type() == QEvent::Wheel;
    if ((!wheel && event->type() != QEvent::Polish) || !watched->isWidgetType())
        return QScrollArea::eventFilter(watched, event);
    auto* target = static_cast<QWidget*>(watched);
    QWidget* content = widget();
    if (content == nullptr || !content->isAncestorOf(target)) return false;
    if (!wheel) {
        // A real wheel turn gives the focus to a control that takes it by the wheel (spin
        // boxes and lists do) before any filter sees the turn, which would then find that
        // control focused and let it change its value. Such controls take the focus by
        // click and Tab only.
        if (target->focusPolicy() == Qt::WheelFocus) target->setFocusPolicy(Qt::StrongFocus);
        return false;
    }
    // A control takes the wheel only while it has the focus (the focus may sit in a part of
    // it, such as a spin box's text, or it in a part of the focused control, such as a
    // table's viewport); otherwise the wheel scrolls the window, whatever lies under the
    // pointer.
    const QWidget* focus = QApplication::focusWidget();
    const bool focused =
        focus != nullptr && content->isAncestorOf(focus) &&
        (focus == target || focus->isAncestorOf(target) || target->isAncestorOf(focus));
    if (focused) return false;
    wheelEvent(static_cast<QWheelEvent*>(event));
    return true;
}

void TFormScrollArea::wheelEvent(QWheelEvent* event) {
    pendingDelta_ += event->angleDelta().y();
    while (pendingDelta_ <= -120) {
        pendingDelta_ += 120;
        emit wheelDown();
    }
    while (pendingDelta_ >= 120) {
        pendingDelta_ -= 120;
        emit wheelUp();
    }
    event->accept();
}
