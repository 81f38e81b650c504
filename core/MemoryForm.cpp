#include "MemoryForm.h"

#include <stdexcept>

MemoryGrid::MemoryGrid(int cols, int rows, int fixedCols, int fixedRows, int colWidth)
    : cols_(cols),
      rows_(rows),
      col_(fixedCols < cols ? fixedCols : 0),
      row_(fixedRows < rows ? fixedRows : 0),
      cells_(static_cast<size_t>(cols * rows)),
      marks_(static_cast<size_t>(cols * rows)),
      widths_(static_cast<size_t>(cols), colWidth) {}

std::string MemoryGrid::Cell(int col, int row) const {
    if (col < 0 || col >= cols_ || row < 0 || row >= rows_) throw std::out_of_range("grid cell");
    return cells_[static_cast<size_t>(row * cols_ + col)];
}

void MemoryGrid::SetCell(int col, int row, const std::string& text) {
    if (col < 0 || col >= cols_ || row < 0 || row >= rows_) throw std::out_of_range("grid cell");
    cells_[static_cast<size_t>(row * cols_ + col)] = text;
    marks_[static_cast<size_t>(row * cols_ + col)].clear();
}

void MemoryGrid::MarkCell(int col, int row, const std::string& tip) {
    if (col < 0 || col >= cols_ || row < 0 || row >= rows_) throw std::out_of_range("grid cell");
    marks_[static_cast<size_t>(row * cols_ + col)] = tip;
}

std::string MemoryGrid::CellMark(int col, int row) const {
    if (col < 0 || col >= cols_ || row < 0 || row >= rows_) throw std::out_of_range("grid cell");
    return marks_[static_cast<size_t>(row * cols_ + col)];
}

void MemoryGrid::SetCol(int col) {
    if (col < 0 || col >= cols_) throw std::out_of_range("grid column");
    col_ = col;
}

void MemoryGrid::SetRow(int row) {
    if (row < 0 || row >= rows_) throw std::out_of_range("grid row");
    row_ = row;
}

int MemoryGrid::ColWidth(int col) const {
    return widths_.at(static_cast<size_t>(col));
}
void MemoryGrid::SetColWidth(int col, int width) {
    widths_.at(static_cast<size_t>(col)) = width;
}

MemoryForm::MemoryForm() {
    for (int program = 1; program <= 9; ++program) {
        for (int table = 0; table < 4; ++table) {
            const int rows = table == static_cast<int>(ProgramTable::Fuel) ? 1 : 4;
            programGrids_.push_back(std::make_unique<MemoryGrid>(17, rows, 1, 0));
        }
    }
    grids_[Grid::StrGridConfig] = std::make_unique<MemoryGrid>(16, 1, 0, 0, 52);
    grids_[Grid::StrGridConfNam] = std::make_unique<MemoryGrid>(16, 2, 0, 1, 52);
    grids_[Grid::StrGridSDnames] = std::make_unique<MemoryGrid>(2, 5, 1, 0, 110);
    grids_[Grid::StrGridSDdata] = std::make_unique<MemoryGrid>(2, 5, 0, 0, 120);
    grids_[Grid::StrGridDynoLog] = std::make_unique<MemoryGrid>(17, 4, 1, 0);
}

MemoryGrid& MemoryForm::Program(int program, ProgramTable table) {
    if (program < 1 || program > 9) throw std::out_of_range("program number");
    return *programGrids_[static_cast<size_t>((program - 1) * 4 + static_cast<int>(table))];
}

TextGrid& MemoryForm::ProgramGrid(int program, ProgramTable table) {
    return Program(program, table);
}

TextGrid& MemoryForm::GridByName(Grid grid) {
    return *grids_.at(grid);
}
Control& MemoryForm::ControlByName(Ctl control) {
    return controls_[control];
}

ChartSeries& MemoryForm::Series(int chart) {
    if (chart < 1 || chart > 3) throw std::out_of_range("chart number");
    return series_[static_cast<size_t>(chart - 1)];
}
