// Input that only a real display delivers: wheel notches that move the focus before any
// filter sees them, and message boxes that open in the middle of a key press.
#include <QApplication>
#include <QComboBox>
#include <QSpinBox>

#include "Desktop.h"

namespace {

using namespace desktop;
using PT = ProgramTable;

struct WheelCase {
    const char* name;
    const char* control;  // on the Service page
    bool focused;         // the control has the focus before the wheel turns
    int notches;          // away from the user when positive
};

void PrintTo(const WheelCase& row, std::ostream* os) {
    *os << row.name;
}

const WheelCase kWheelCases[] = {
    {"StartTimeUnfocused", "NumBoxStartTime", false, 3},
    {"PedalResponseUnfocused", "ComboBoxPedalRes", false, -3},
    {"StartTimeFocused", "NumBoxStartTime", true, 3},
    {"PedalResponseFocused", "ComboBoxPedalRes", true, -3},
};

class WheelRows : public DesktopTest, public testing::WithParamInterface<WheelCase> {};

// Three notches over a control change its value only while it has the focus; otherwise
// they belong to the window.
TEST_P(WheelRows, OnlyAFocusedControlTakesTheWheel) {
    const WheelCase& row = GetParam();
    // The pedal response is greyed until a 3-channel box is downloaded.
    ASSERT_TRUE(ConnectByTyping());
    ASSERT_TRUE(DownloadByClick());
    ASSERT_TRUE(ShowPage(0));
    QWidget* control =
        Get([&] { return form->findChild<QWidget*>(QString::fromLatin1(row.control)); });
    ASSERT_NE(control, nullptr);
    ASSERT_TRUE(Get([&] { return control->isEnabled(); }));
    const auto value = [&] {
        return Get([&] {
            if (auto* spin = qobject_cast<QSpinBox*>(control)) return spin->value();
            return qobject_cast<QComboBox*>(control)->currentIndex();
        });
    };

    if (row.focused) {
        if (qobject_cast<QComboBox*>(control) != nullptr) {
            // A click drops the list down; Escape closes it and leaves the focus.
            Click(Centre(control));
            ASSERT_TRUE(WaitUntil([] { return QApplication::activePopupWidget() != nullptr; }));
            Key("Escape");
        } else {
            // The text part, left of the arrows.
            Click(At(control, QPoint(6, Get([&] { return control->height() / 2; }))));
        }
        ASSERT_TRUE(WaitUntil([&] {
            return QApplication::activePopupWidget() == nullptr && control->hasFocus();
        })) << "the focus is on "
            << FocusName().toStdString();
    } else {
        Click(Centre(form->EditNewSerial));
        ASSERT_TRUE(WaitUntil([&] { return form->EditNewSerial->hasFocus(); }))
            << "the focus is on " << FocusName().toStdString();
    }
    const int before = value();
    Wheel(Centre(control), row.notches);
    const int after = value();
    if (row.focused) {
        EXPECT_NE(after, before) << "the focused control did not take the wheel";
    } else {
        EXPECT_EQ(after, before) << "the wheel changed " << row.control
                                 << " without the focus; the focus is now on "
                                 << FocusName().toStdString();
    }
    EXPECT_FALSE(WaitForDialog(300)) << "no message";
}

INSTANTIATE_TEST_SUITE_P(Wheel, WheelRows, testing::ValuesIn(kWheelCases),
                         [](const testing::TestParamInfo<WheelCase>& info) {
                             return std::string(info.param.name);
                         });

// A message box that opens in the middle of a key's handling must leave the window whole.
using MessageRows = DesktopTest;

// Waits for the conversion message about `text` and closes it with `key`, as a person
// would; without the message the key is not pressed.
void AnswerConversionMessage(const std::string& text, const QString& key, const char* after) {
    const std::optional<Dialog> message = WaitForDialog(5000);
    if (!message) {
        ADD_FAILURE() << "no message after " << after;
        return;
    }
    EXPECT_EQ(message->kind, "QMessageBox") << after;
    EXPECT_EQ(message->text, QString::fromStdString("'" + text + "' is not a valid integer value"))
        << after;
    Key(key);
    EXPECT_TRUE(WaitForNoDialog(5000)) << key.toStdString() << " did not close the message";
}

TEST_F(MessageRows, ArrowsAndAMinusOnACellThatHoldsTextLeaveTheWindowAnswering) {
    ASSERT_TRUE(ClickCell(1, PT::CH1, 3, 1));
    Type("abc");
    Key("Return");
    ASSERT_TRUE(WaitUntil([&] { return form->ProgramGrid(1, PT::CH1).Cell(3, 1) == "abc"; }));

    Key("Left");
    AnswerConversionMessage("abc", "Return", "Left");
    Type("-");
    AnswerConversionMessage("abc", "Escape", "-");
    // The message took the focus from the cell editor, which committed the "-" to the cell
    // left of "abc": the charts now meet it first.
    ASSERT_TRUE(WaitUntil([&] { return form->ProgramGrid(1, PT::CH1).Cell(2, 1) == "-"; }));
    Key("Right");
    AnswerConversionMessage("-", "Return", "Right");

    ASSERT_TRUE(Answering()) << "the window does not answer";
    EXPECT_TRUE(ShowPage(2)) << "a click on a tab did nothing";
    EXPECT_EQ(Cell(1, PT::CH1, 3, 1), "abc");
}

TEST_F(MessageRows, TypingIntoAnotherCellWhileACellHoldsTextLeavesTheWindowAnswering) {
    ASSERT_TRUE(ClickCell(1, PT::CH1, 4, 1));
    Type("x");
    Key("Return");
    ASSERT_TRUE(WaitUntil([&] { return form->ProgramGrid(1, PT::CH1).Cell(4, 1) == "x"; }));

    TStringGrid* other = Grid(1, PT::CH2);
    Click(CellCentre(other, 6, 2), 1, 2);
    ASSERT_TRUE(WaitUntil([&] {
        QWidget* focus = QApplication::focusWidget();
        return focus != nullptr && focus != other && other->isAncestorOf(focus);
    })) << "the double click opened no editor; the focus is on "
        << FocusName().toStdString();
    Type("5");
    AnswerConversionMessage("x", "Return", "5");

    ASSERT_TRUE(Answering()) << "the window does not answer";
    EXPECT_TRUE(ShowPage(2)) << "a click on a tab did nothing";
    EXPECT_EQ(Cell(1, PT::CH1, 4, 1), "x");
}

// The texts of P1 CH1's PRESS_1 row, columns 1 to 16.
std::vector<std::string> PressRow(TForm1* form) {
    return Get([&] {
        std::vector<std::string> texts;
        for (int col = 1; col <= 16; ++col)
            texts.push_back(form->ProgramGrid(1, PT::CH1).Cell(col, 2));
        return texts;
    });
}

// A real keyboard sends Control down before the key it modifies. While the CORR row, which
// the charts draw, holds "x", each Ctrl key still edits the PRESS_1 row first; the message
// that the charts cannot draw "x" comes after, from the key itself.
TEST_F(MessageRows, CtrlKeysEditACellWhileTheChartsCannotDrawTheRowAbove) {
    // A value of its own to copy, typed while every key still goes without a message.
    ASSERT_TRUE(ClickCell(1, PT::CH1, 3, 2));
    Type("123");
    Key("Return");
    ASSERT_TRUE(WaitUntil([&] { return form->ProgramGrid(1, PT::CH1).Cell(3, 2) == "123"; }));
    ASSERT_TRUE(ClickCell(1, PT::CH1, 4, 1));
    Type("x");
    Key("Return");
    ASSERT_TRUE(WaitUntil([&] { return form->ProgramGrid(1, PT::CH1).Cell(4, 1) == "x"; }));
    std::vector<std::string> row(16, "0");
    row[2] = "123";
    ASSERT_EQ(PressRow(form), row);
    TStringGrid* grid = Grid(1, PT::CH1);

    ASSERT_TRUE(ClickCell(1, PT::CH1, 5, 2));
    Key("ctrl+Up");
    AnswerConversionMessage("x", "Return", "Ctrl+Up");
    row[4] = "10";
    EXPECT_EQ(PressRow(form), row) << "Ctrl+Up";

    ASSERT_TRUE(WaitUntil([&] { return grid->hasFocus(); })) << "the table lost the focus";
    Key("ctrl+Right");
    AnswerConversionMessage("x", "Return", "Ctrl+Right");
    std::fill(row.begin() + 4, row.end(), "10");
    EXPECT_EQ(PressRow(form), row) << "Ctrl+Right fills the row from the cell on";

    ASSERT_TRUE(ClickCell(1, PT::CH1, 3, 2));
    Key("ctrl+c");
    AnswerConversionMessage("x", "Return", "Ctrl+C");
    ASSERT_TRUE(ClickCell(1, PT::CH1, 2, 2));
    Key("ctrl+v");
    AnswerConversionMessage("x", "Return", "Ctrl+V");
    row[1] = "123";
    EXPECT_EQ(PressRow(form), row) << "Ctrl+V";
    EXPECT_EQ(Cell(1, PT::CH1, 4, 1), "x");
    ASSERT_TRUE(Answering()) << "the window does not answer";
}

// A text that is no number, typed into a cell and taken back with the real undo keys.
struct TypedTextCase {
    const char* name;
    int row;       // of P1 CH1, column 6
    bool charted;  // the charts draw the row: a redo that brings the text back says so
};

void PrintTo(const TypedTextCase& row, std::ostream* os) {
    *os << row.name;
}

const TypedTextCase kTypedTextCases[] = {
    {"InTheCorrRow", 1, true},
    {"InThePressRow", 2, false},
};

class TypedTextRows : public DesktopTest, public testing::WithParamInterface<TypedTextCase> {};

TEST_P(TypedTextRows, CtrlZTakesItBackWithoutAMessageAndCtrlYBringsItBack) {
    const TypedTextCase& row = GetParam();
    const auto cell = [&] { return Cell(1, PT::CH1, 6, row.row); };
    const std::string was = cell();
    ASSERT_TRUE(ClickCell(1, PT::CH1, 6, row.row));
    Type("abc");
    Key("Return");
    ASSERT_TRUE(WaitUntil([&] { return form->ProgramGrid(1, PT::CH1).Cell(6, row.row) == "abc"; }));
    EXPECT_FALSE(WaitForDialog(300)) << "no message as the text is committed";

    Key("ctrl+z");
    EXPECT_TRUE(
        WaitUntil([&] { return form->ProgramGrid(1, PT::CH1).Cell(6, row.row) == was; }, 3000))
        << "Ctrl+Z left " << cell();
    EXPECT_FALSE(WaitForDialog(500)) << "a message after Ctrl+Z";

    Key("ctrl+y");
    EXPECT_TRUE(
        WaitUntil([&] { return form->ProgramGrid(1, PT::CH1).Cell(6, row.row) == "abc"; }, 3000))
        << "Ctrl+Y left " << cell();
    if (row.charted) {
        AnswerConversionMessage("abc", "Return", "Ctrl+Y");
    } else {
        EXPECT_FALSE(WaitForDialog(500)) << "a message after Ctrl+Y";
    }
    ASSERT_TRUE(Answering()) << "the window does not answer";
}

INSTANTIATE_TEST_SUITE_P(Undo, TypedTextRows, testing::ValuesIn(kTypedTextCases),
                         [](const testing::TestParamInfo<TypedTextCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
