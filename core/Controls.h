#pragma once
// The small view of the main window that the routines work on. The window implements
// it over its widgets; tests and command-line tools implement it in memory (MemoryForm).
#include <array>
#include <cstdint>
#include <string>

// Colours as 0xRRGGBB. kClWindow stands for the system's window-background colour,
// which only the window knows.
using TColor = uint32_t;
constexpr TColor clRed = 0xFF0000;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clBlue = 0x0000FF;
constexpr TColor clWindow = 0xFF000005;

// The values a cell can hold: what the box stores for it.
struct ValueRange {
    int64_t low;
    int64_t high;
};

// A grid of cell texts with a current cell. Column and row indices count from 0 and
// include the fixed label column or row.
class TextGrid {
  public:
    virtual ~TextGrid() = default;
    virtual int ColCount() const = 0;
    virtual int RowCount() const = 0;
    virtual std::string Cell(int col, int row) const = 0;
    virtual void SetCell(int col, int row, const std::string& text) = 0;
    virtual int Col() const = 0;
    virtual int Row() const = 0;
    virtual void SetCol(int col) = 0;
    virtual void SetRow(int row) = 0;
    virtual bool Enabled() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
    virtual TColor Color() const = 0;
    virtual void SetColor(TColor color) = 0;
    virtual int ColWidth(int col) const = 0;
    virtual void SetColWidth(int col, int width) = 0;
    virtual bool Focused() const = 0;
    // Marks a cell (a coloured background, `tip` as its tooltip) until its text is set
    // again or the user edits it. Grids that show no marks ignore it.
    virtual void MarkCell(int /*col*/, int /*row*/, const std::string& /*tip*/) {}
    // The values the box stores for columns first..last of every row; a grid that shows its
    // cells marks those it cannot store. Without a call, no cell is checked.
    virtual void SetStoredRange(ValueRange /*range*/, int /*first*/, int /*last*/) {}
};

// Any other control the routines touch: a label, button, check box, radio button,
// combo box or shape. Each implementation keeps what applies to its kind.
class Control {
  public:
    virtual ~Control() = default;
    virtual bool Enabled() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
    virtual std::string Caption() const = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual bool Checked() const = 0;
    virtual void SetChecked(bool checked) = 0;
    virtual TColor Color() const = 0;
    virtual void SetColor(TColor color) = 0;
    // The selected entry of a list (-1: none).
    virtual int ItemIndex() const = 0;
    virtual void SetItemIndex(int index) = 0;
};

// One line series of a curve chart.
class ChartSeries {
  public:
    virtual ~ChartSeries() = default;
    virtual void Clear() = 0;
    virtual void Add(double value, const std::string& label) = 0;
    virtual int Count() const = 0;
    virtual double Value(int index) const = 0;
    virtual std::string Label(int index) const = 0;
    // Points added between these two may be drawn all at once at the end.
    virtual void BeginUpdate() {}
    virtual void EndUpdate() {}
};

enum class ProgramTable { CH1 = 0, CH2 = 1, CH3 = 2, Fuel = 3 };

// Controls reached by name. Further controls join as the routines that use them land.
enum class Ctl {
    LabelPress3,
    ButtonP9,
    RadioButtCH3,
    CheckBoxCH3,
    ComboBoxPedalRes,
    ButtonDownload,
    ButtonSend,
    ButtonDynoLog,
    Shape2,
    RadioButtP0,
    RadioButtP1toP9,
    LabelSerial,
    LabelRPM,
    LabelPress1,
    LabelPress2,
    EditNewSerial,
    NumBoxStartTime,
    RadioButtCH1,
    RadioButtCH2,
    CheckBoxCH1,
    CheckBoxCH2,
    CheckBoxCopySend,
    StaticText1,
    ButtonP0,  // ButtonP0 .. ButtonP8 follow in order; ButtonP9 is above
    ButtonP1,
    ButtonP2,
    ButtonP3,
    ButtonP4,
    ButtonP5,
    ButtonP6,
    ButtonP7,
    ButtonP8,
};

// The pedal response's items, indexed by the value the box stores.
inline constexpr std::array<const char*, 3> kPedalResponses = {"Lazy", "Normal", "Insane"};

inline Ctl ProgramButton(int n) {
    return n == 9 ? Ctl::ButtonP9 : static_cast<Ctl>(static_cast<int>(Ctl::ButtonP0) + n);
}

enum class Grid {
    StrGridConfig,
    StrGridConfNam,
    StrGridSDnames,
    StrGridSDdata,
    StrGridDynoLog,
};

class FormControls {
  public:
    virtual ~FormControls() = default;
    // program 1..9
    virtual TextGrid& ProgramGrid(int program, ProgramTable table) = 0;
    virtual TextGrid& GridByName(Grid grid) = 0;
    virtual Control& ControlByName(Ctl control) = 0;
    // chart 1..3: Series1, LineSeries1, LineSeries2
    virtual ChartSeries& Series(int chart) = 0;
    // 0 is the "Service" page, n the page of program n.
    virtual int PageIndex() const = 0;
    // Shows another page without running the page-change handling.
    virtual void SetPageIndex(int index) = 0;
};
