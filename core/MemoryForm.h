#pragma once
// In-memory controls: the same grids and controls as the window, without widgets.
#include <array>
#include <map>
#include <memory>
#include <vector>

#include "Controls.h"

class MemoryGrid : public TextGrid {
  public:
    MemoryGrid(int cols, int rows, int fixedCols = 0, int fixedRows = 0, int colWidth = 50);
    int ColCount() const override { return cols_; }
    int RowCount() const override { return rows_; }
    std::string Cell(int col, int row) const override;
    void SetCell(int col, int row, const std::string& text) override;
    int Col() const override { return col_; }
    int Row() const override { return row_; }
    void SetCol(int col) override;
    void SetRow(int row) override;
    bool Enabled() const override { return enabled_; }
    void SetEnabled(bool enabled) override { enabled_ = enabled; }
    TColor Color() const override { return color_; }
    void SetColor(TColor color) override { color_ = color; }
    int ColWidth(int col) const override;
    void SetColWidth(int col, int width) override;
    bool Focused() const override { return focused_; }
    void SetFocused(bool focused) { focused_ = focused; }
    void MarkCell(int col, int row, const std::string& tip) override;
    // The tooltip of a marked cell; empty for one without a mark.
    std::string CellMark(int col, int row) const;

  private:
    int cols_;
    int rows_;
    int col_;
    int row_;
    bool enabled_ = true;
    bool focused_ = false;
    TColor color_ = clWindow;
    std::vector<std::string> cells_;
    std::vector<std::string> marks_;
    std::vector<int> widths_;
};

class MemoryControl : public Control {
  public:
    bool Enabled() const override { return enabled_; }
    void SetEnabled(bool enabled) override { enabled_ = enabled; }
    std::string Caption() const override { return caption_; }
    void SetCaption(const std::string& caption) override { caption_ = caption; }
    bool Checked() const override { return checked_; }
    void SetChecked(bool checked) override { checked_ = checked; }
    TColor Color() const override { return color_; }
    void SetColor(TColor color) override { color_ = color; }
    int ItemIndex() const override { return itemIndex_; }
    void SetItemIndex(int index) override { itemIndex_ = index; }

  private:
    bool enabled_ = true;
    bool checked_ = false;
    int itemIndex_ = -1;
    std::string caption_;
    TColor color_ = clWindow;
};

class MemorySeries : public ChartSeries {
  public:
    void Clear() override { points_.clear(); }
    void Add(double value, const std::string& label) override { points_.push_back({value, label}); }
    int Count() const override { return static_cast<int>(points_.size()); }
    double Value(int index) const override { return points_.at(index).first; }
    std::string Label(int index) const override { return points_.at(index).second; }

  private:
    std::vector<std::pair<double, std::string>> points_;
};

// The window's controls in memory, with the grid sizes of the real window.
class MemoryForm : public FormControls {
  public:
    MemoryForm();
    TextGrid& ProgramGrid(int program, ProgramTable table) override;
    TextGrid& GridByName(Grid grid) override;
    Control& ControlByName(Ctl control) override;
    ChartSeries& Series(int chart) override;
    int PageIndex() const override { return page_; }
    void SetPageIndex(int index) override { page_ = index; }

    MemoryGrid& Program(int program, ProgramTable table);

  private:
    std::vector<std::unique_ptr<MemoryGrid>> programGrids_;  // 9 programs x 4 tables
    std::map<Grid, std::unique_ptr<MemoryGrid>> grids_;
    std::map<Ctl, MemoryControl> controls_;
    std::array<MemorySeries, 3> series_;
    int page_ = 1;
};
